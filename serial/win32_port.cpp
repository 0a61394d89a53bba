#include "serial/win32_port.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "serial/port_connection.h"

namespace fwu {

namespace {

constexpr DWORD kBaudRate = CBR_38400;
constexpr BYTE kByteSize = 8;
constexpr DWORD kQueueBytes = 1024;
// Every read and write time-out is 1 ms: a one-byte read that finds nothing returns after about 2 ms, a write
// of n bytes is given n + 1 ms.
constexpr DWORD kTimeoutMs = 1;
// How long a read that cannot even ask the driver waits, so that a caller's deadline loop does not spin.
constexpr DWORD kFailedReadWaitMs = 2;

// Only the speed and the character frame change; handshake, XON/XOFF, error handling and the special
// characters keep what the driver reported.
bool WriteLineSettings(HANDLE port, DCB& settings) {
  settings.BaudRate = kBaudRate;
  settings.ByteSize = kByteSize;
  settings.Parity = NOPARITY;
  settings.StopBits = ONESTOPBIT;
  return SetCommState(port, &settings) != FALSE;
}

// Not being able to shorten the time-outs does not stop the open; the line still works, only more slowly.
void SetShortTimeouts(HANDLE port) {
  COMMTIMEOUTS timeouts{};
  static_cast<void>(GetCommTimeouts(port, &timeouts));
  timeouts.ReadIntervalTimeout = kTimeoutMs;
  timeouts.ReadTotalTimeoutMultiplier = kTimeoutMs;
  timeouts.ReadTotalTimeoutConstant = kTimeoutMs;
  timeouts.WriteTotalTimeoutMultiplier = kTimeoutMs;
  timeouts.WriteTotalTimeoutConstant = kTimeoutMs;
  static_cast<void>(SetCommTimeouts(port, &timeouts));
}

// DTR, then RTS. Some adapters (and a pseudo-terminal behind Wine) have no modem lines; the controller answers
// without them, so the results are not looked at.
void RaiseModemLines(HANDLE port) {
  static_cast<void>(EscapeCommFunction(port, SETDTR));
  static_cast<void>(EscapeCommFunction(port, SETRTS));
}

// The system's error of a failed step, in the operator's words; the system's own text for the rarer ones.
std::string DescribeOpenError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return "no such device";
    // A COM port held open by another program is refused with "access denied".
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return "in use by another program (access denied)";
    default:
      break;
  }
  constexpr DWORD kTextSize = 256;
  char text[kTextSize] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                      text, kTextSize, nullptr);
  std::string described(text, length);
  while (!described.empty() && (described.back() == '\n' || described.back() == '\r' || described.back() == '.')) {
    described.pop_back();
  }
  return described.empty() ? "system error " + std::to_string(error) : described;
}

}  // namespace

OpenResult Win32SerialPort::Failed(OpenResult result) {
  openFailure_ = DescribeOpenError(GetLastError());
  return result;
}

OpenResult Win32SerialPort::Open(const std::string& portName) {
  Close();
  openFailure_.clear();
  // No sharing: a port that another program holds open is refused here.
  Win32Handle handle(CreateFileA(Win32DevicePath(portName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle.IsValid()) {
    return Failed(OpenResult::OpenFailed);
  }
  handle_ = std::move(handle);
  const OpenResult result = Configure();
  if (result != OpenResult::Ok) {
    handle_.Reset();
  }
  return result;
}

OpenResult Win32SerialPort::Configure() {
  DCB settings{};
  settings.DCBlength = sizeof(settings);
  if (GetCommState(handle_.Get(), &settings) == FALSE) {
    return Failed(OpenResult::ReadSettingsFailed);
  }
  if (!WriteLineSettings(handle_.Get(), settings)) {
    return Failed(OpenResult::WriteSettingsFailed);
  }
  // The queue sizes are asked for after the line settings.
  if (SetupComm(handle_.Get(), kQueueBytes, kQueueBytes) == FALSE) {
    return Failed(OpenResult::QueueSizeFailed);
  }
  SetShortTimeouts(handle_.Get());
  RaiseModemLines(handle_.Get());
  return OpenResult::Ok;
}

void Win32SerialPort::Close() {
  handle_.Reset();
}

std::optional<std::uint8_t> Win32SerialPort::ReadByte() {
  if (handle_.IsValid()) {
    std::uint8_t byte = 0;
    DWORD count = 0;
    const BOOL ok = ReadFile(handle_.Get(), &byte, 1, &count, nullptr);
    if (ok != FALSE && count == 1) {
      return byte;
    }
    if (ok != FALSE) {
      return std::nullopt;  // the read time-out has passed
    }
  }
  // A closed port, or a driver that fails at once (an adapter pulled out): wait as long as a read would have.
  Sleep(kFailedReadWaitMs);
  return std::nullopt;
}

WriteOutcome Win32SerialPort::Write(std::span<const std::uint8_t> bytes) {
  if (!handle_.IsValid()) {
    return {};
  }
  // One call takes at most a DWORD's worth; a longer request is simply a partial write.
  const auto count = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), MAXDWORD));
  DWORD written = 0;
  const BOOL ok = WriteFile(handle_.Get(), bytes.data(), count, &written, nullptr);
  return {ok != FALSE, static_cast<std::uint32_t>(written)};
}

void Win32SerialPort::Purge() {
  if (handle_.IsValid()) {
    static_cast<void>(PurgeComm(handle_.Get(), PURGE_TXCLEAR | PURGE_RXCLEAR));
  }
}

}  // namespace fwu
