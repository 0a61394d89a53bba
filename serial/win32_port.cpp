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
// The longest wait set as a read time-out: far beyond any limit of the protocol, and clear of the value MAXDWORD,
// which means something else to the driver.
constexpr DWORD kLongestByteWaitMs = 60'000;

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
  byteWaitMs_.reset();
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
  byteWaitMs_.reset();
}

std::size_t Win32SerialPort::Read(std::span<std::uint8_t> into, std::uint32_t waitMs) {
  if (handle_.IsValid() && !into.empty()) {
    const auto count = style_ == WaitStyle::ShortWaits ? ReadOnce(into.first(1)) : ReadWithin(into, waitMs);
    if (count) {
      return *count;
    }
  }
  // A closed port, or a driver that fails at once (an adapter pulled out): wait as a read would have.
  Sleep(style_ == WaitStyle::ShortWaits ? kFailedReadWaitMs : std::min<DWORD>(waitMs, kLongestByteWaitMs));
  return 0;
}

std::optional<std::size_t> Win32SerialPort::ReadWithin(std::span<std::uint8_t> into, std::uint32_t waitMs) {
  // What the driver holds comes at once: a read of exactly that many bytes does not wait.
  if (const std::size_t queued = std::min(Queued(), into.size()); queued > 0) {
    return ReadOnce(into.first(queued));
  }
  // Should the driver refuse the time-out, the read keeps the one it has and the caller asks again.
  SetByteWait(waitMs);
  const auto count = ReadOnce(into.first(1));
  if (!count || *count == 0) {
    return count;
  }
  // The byte that ended the wait seldom comes alone: what came with it is taken too.
  const std::size_t more = std::min(Queued(), into.size() - 1);
  return 1 + (more > 0 ? ReadOnce(into.subspan(1, more)).value_or(0) : 0U);
}

std::size_t Win32SerialPort::Queued() const {
  DWORD errors = 0;
  COMSTAT status{};
  if (ClearCommError(handle_.Get(), &errors, &status) == FALSE) {
    return 0;
  }
  return status.cbInQue;
}

std::optional<std::size_t> Win32SerialPort::ReadOnce(std::span<std::uint8_t> into) {
  const auto wanted = static_cast<DWORD>(std::min<std::size_t>(into.size(), MAXDWORD));
  DWORD count = 0;
  if (ReadFile(handle_.Get(), into.data(), wanted, &count, nullptr) == FALSE) {
    return std::nullopt;
  }
  return std::min<std::size_t>(count, into.size());
}

void Win32SerialPort::SetByteWait(std::uint32_t waitMs) {
  const DWORD wanted = std::clamp<DWORD>(waitMs, 1, kLongestByteWaitMs);
  if (byteWaitMs_ == wanted) {
    return;
  }
  // A one-byte read then waits up to `wanted` for its byte and returns the moment it comes: no interval time-out
  // (it would hold the read until the line has been quiet that long), no per-byte share. Writes keep theirs.
  COMMTIMEOUTS timeouts{};
  static_cast<void>(GetCommTimeouts(handle_.Get(), &timeouts));
  timeouts.ReadIntervalTimeout = 0;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = wanted;
  if (SetCommTimeouts(handle_.Get(), &timeouts) == FALSE) {
    byteWaitMs_.reset();
    return;
  }
  byteWaitMs_ = wanted;
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
