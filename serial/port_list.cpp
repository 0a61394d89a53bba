#include "serial/port_list.h"

#include <algorithm>
#include <cctype>

namespace fwu {

namespace {

constexpr std::string_view kSeparator = "  ";
constexpr std::size_t kIdDigits = 4;

void AppendPart(std::string& line, std::string_view label, const std::string& value) {
  if (!value.empty()) {
    line.append(kSeparator).append(label).append(value);
  }
}

std::string Upper(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper;
}

// The four hex digits after key ("VID_", "PID_"), in lower case; empty when they are not there.
std::string IdAfter(const std::string& upperId, std::string_view key) {
  const std::size_t at = upperId.find(key);
  if (at == std::string::npos || upperId.size() < at + key.size() + kIdDigits) {
    return {};
  }
  std::string digits = upperId.substr(at + key.size(), kIdDigits);
  if (!std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isxdigit(c) != 0; })) {
    return {};
  }
  std::transform(digits.begin(), digits.end(), digits.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return digits;
}

// The serial number in an instance id: the USB bus puts it after the second "\", the FTDI bus after the second
// "+". Windows makes up an id with "&" in it for a device that has no serial number.
std::string SerialIn(std::string_view instanceId) {
  const std::size_t firstSlash = instanceId.find('\\');
  if (firstSlash == std::string_view::npos) {
    return {};
  }
  const std::string_view bus = instanceId.substr(0, firstSlash);
  const std::string_view rest = instanceId.substr(firstSlash + 1);
  const std::size_t secondSlash = rest.find('\\');
  std::string_view serial;
  if (Upper(bus) == "USB" && secondSlash != std::string_view::npos) {
    serial = rest.substr(secondSlash + 1);
  } else if (Upper(bus) == "FTDIBUS") {
    const std::string_view device = rest.substr(0, secondSlash);
    const std::size_t plus = device.rfind('+');
    serial = plus == std::string_view::npos ? std::string_view() : device.substr(plus + 1);
  }
  if (serial.find('&') != std::string_view::npos || serial.find('\\') != std::string_view::npos) {
    return {};
  }
  return std::string(serial);
}

}  // namespace

std::string PortLine(const PortInfo& port) {
  std::string line = port.name;
  AppendPart(line, "", port.description);
  AppendPart(line, "usb ", port.usbId);
  AppendPart(line, "serial ", port.serial);
  for (const std::string& alias : port.aliases) {
    AppendPart(line, "", alias);
  }
  return line;
}

void AttachAliases(std::vector<PortInfo>& ports, const std::vector<PortAlias>& aliases) {
  for (PortInfo& port : ports) {
    for (const PortAlias& alias : aliases) {
      if (alias.target == port.name) {
        port.aliases.push_back(alias.link);
      }
    }
    std::sort(port.aliases.begin(), port.aliases.end());
  }
}

UsbIdentity UsbIdentityFromInstanceId(std::string_view instanceId) {
  const std::string upper = Upper(instanceId);
  const std::string vid = IdAfter(upper, "VID_");
  const std::string pid = IdAfter(upper, "PID_");
  if (vid.empty() || pid.empty()) {
    return {};
  }
  return {vid + ":" + pid, SerialIn(instanceId)};
}

}  // namespace fwu
