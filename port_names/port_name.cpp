#include "port_names/port_name.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <filesystem>
#include <map>
#include <system_error>

#include "serial/port_connection.h"

namespace fwu::port_names {

namespace {

namespace fs = std::filesystem;

// A chain of links longer than this is a loop; the rest of the path is then taken as written.
constexpr int kMaxLinks = 40;

std::string Upper(std::string_view text) {
  std::string upper(text);
  std::ranges::transform(upper, upper.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper;
}

// The "name" of "name:rest" in small letters, as a URL or another kind of port would begin; empty for a path. A
// path begins with "/" or ".", or has no ":" before its first "/" (by-path names carry ":" only after it); a
// drive letter ("C:") is no scheme either.
std::string SchemeOf(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon < 2 || text.starts_with('/') || text.starts_with('.')) {
    return {};
  }
  const std::size_t slash = text.find_first_of("/\\");
  if (slash != std::string_view::npos && slash < colon && text.substr(colon, 3) != "://") {
    return {};
  }
  const std::string_view scheme = text.substr(0, colon);
  const bool wellFormed = std::ranges::all_of(
      scheme, [](unsigned char c) { return std::isalnum(c) != 0 || c == '+' || c == '-' || c == '.'; });
  std::string lower(wellFormed ? scheme : std::string_view());
  std::ranges::transform(lower, lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

// The path with every link that exists followed, and the parts that do not exist taken as written, relative to
// the working folder: a slot may name a device that is not plugged in yet.
std::string ResolvedPath(const std::string& text) {
  std::error_code error;
  const fs::path whole = fs::absolute(text, error);
  if (error) {
    return text;
  }
  fs::path resolved = whole.root_path();
  const fs::path parts = whole.relative_path();
  std::deque<fs::path> pending(parts.begin(), parts.end());
  int links = 0;
  while (!pending.empty()) {
    const fs::path part = pending.front();
    pending.pop_front();
    if (part.empty() || part == ".") {
      continue;
    }
    if (part == "..") {
      resolved = resolved.parent_path();
      continue;
    }
    const fs::path next = resolved / part;
    if (links < kMaxLinks && fs::is_symlink(fs::symlink_status(next, error))) {
      const fs::path target = fs::read_symlink(next, error);
      if (!error) {
        ++links;
        resolved = target.is_absolute() ? target.root_path() : resolved;
        const fs::path targetParts = target.relative_path();
        pending.insert(pending.begin(), targetParts.begin(), targetParts.end());
        continue;
      }
    }
    resolved = next;
  }
  return resolved.lexically_normal().string();
}

std::optional<PortName> Refuse(std::string* problem, std::string text) {
  *problem = std::move(text);
  return std::nullopt;
}

}  // namespace

std::optional<PortName> ParsePortName(std::string_view text, std::string* problem, Rules rules) {
  PortName name{std::string(text), Form::Device, std::string(text), {}, {}};
  if (text.empty()) {
    return Refuse(problem, "an empty port name");
  }
  if (network_port::IsNetworkPortName(text)) {
    auto url = network_port::ParseNetworkUrl(text, problem);
    if (!url) {
      return std::nullopt;
    }
    name.form = Form::Network;
    name.url = std::move(*url);
    return name;
  }
  const std::string scheme = SchemeOf(text);
  if (scheme == "usb") {
    name.form = Form::UsbSerial;
    name.usbSerial = std::string(text.substr(kUsbPrefix.size()));
    if (name.usbSerial.empty()) {
      return Refuse(problem, name.text +
                                 ": usb: needs the adapter's serial number, as 'fwupdate-cli ports' shows it "
                                 "(usb:A50285BI)");
    }
    return name;
  }
  if (scheme == "rfc2217" || scheme == "socket") {
    return Refuse(
        problem, name.text + ": no '//' after '" + scheme + ":'; a network port is written " + scheme + "://HOST:PORT");
  }
  if (!scheme.empty()) {
    return Refuse(problem, name.text +
                               ": unknown form; a port is a device (/dev/ttyUSB0, /dev/serial/by-id/..., COM7, "
                               "./NAME), rfc2217://HOST:PORT, socket://HOST:PORT or usb:SERIAL");
  }
  if (rules == Rules::Windows && name.device.starts_with(kWin32DevicePrefix)) {
    name.device.erase(0, kWin32DevicePrefix.size());
  }
  return name;
}

std::string PortIdentity(const PortName& name, Rules rules) {
  switch (name.form) {
    case Form::Network:
      return name.url.Identity();
    case Form::UsbSerial:
      return std::string(kUsbPrefix) + name.usbSerial;
    case Form::Device:
      break;
  }
  return rules == Rules::Windows ? Upper(name.device) : ResolvedPath(name.device);
}

PortNameList CheckPortNames(const std::vector<std::string>& texts, Rules rules) {
  PortNameList list;
  std::map<std::string, std::string> seen;  // identity, the name that took it first
  for (const std::string& text : texts) {
    std::string problem;
    std::optional<PortName> name = ParsePortName(text, &problem, rules);
    if (!name) {
      list.problems.push_back(std::move(problem));
      continue;
    }
    const auto [where, added] = seen.emplace(PortIdentity(*name, rules), text);
    if (!added) {
      list.problems.push_back("the port " + text + " is given twice" +
                              (where->second == text ? std::string() : " (also as " + where->second + ")") +
                              ": each port can be updated once at a time");
      continue;
    }
    list.names.push_back(std::move(*name));
  }
  return list;
}

}  // namespace fwu::port_names
