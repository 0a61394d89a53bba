#include "station/slot.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <system_error>

#include "network_port/network_url.h"

namespace fwu::station {

namespace {

std::string Upper(std::string text) {
  std::ranges::transform(text, text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// "COM7" or "\\.\COM12", in any case: Windows' own names, which also mean the same port in another case.
bool IsComName(const std::string& text) {
  std::string name = Upper(text);
  if (name.starts_with("\\\\.\\")) {
    name = name.substr(4);
  }
  return name.size() > 3 && name.starts_with("COM") &&
         std::all_of(name.begin() + 3, name.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// "name:" in front of the rest, as a network or other kind of port would be written. A path never has one: it
// begins with "/" or ".", or has no ":" before its first "/" (by-path names carry ":" only after it).
bool HasScheme(const std::string& text) {
  const auto colon = text.find(':');
  if (colon == std::string::npos || colon < 2 || text.starts_with('/') || text.starts_with('.')) {
    return false;
  }
  const auto slash = text.find_first_of("/\\");
  if (slash != std::string::npos && slash < colon && text.substr(colon, 3) != "://") {
    return false;
  }
  return std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(colon),
                     [](unsigned char c) { return std::isalnum(c) != 0 || c == '+' || c == '-' || c == '.'; });
}

// What makes two slots the same port: one serial number, or one port however it is spelled (PortIdentity).
std::string PortKey(const Slot& slot) {
  return slot.usbSerial.empty() ? PortIdentity(slot.text) : kUsbPrefix + slot.usbSerial;
}

}  // namespace

SlotList ParseSlots(const std::vector<std::string>& texts) {
  SlotList list;
  std::map<std::string, std::string> seen;  // key, the slot that took it first
  for (const std::string& text : texts) {
    Slot slot{text, {}};
    if (text.empty()) {
      list.errors.push_back("slot '': a slot needs a port name");
      continue;
    }
    if (text.starts_with(kUsbPrefix)) {
      slot.usbSerial = text.substr(std::string_view(kUsbPrefix).size());
      if (slot.usbSerial.empty()) {
        list.errors.push_back("slot '" + text +
                              "': usb: needs the adapter's serial number, as 'fwupdate-cli ports' "
                              "shows it (usb:A50285BI)");
        continue;
      }
    } else if (const std::string problem = PortNameProblem(text); !problem.empty()) {
      // The problem begins with the name itself, which the slot's message gives already.
      std::string message = "slot '" + text + "': ";
      message += problem.starts_with(text + ": ") ? problem.substr(text.size() + 2) : problem;
      list.errors.push_back(std::move(message));
      continue;
    } else if (!net::IsNetworkPortName(text) && HasScheme(text)) {
      list.errors.push_back("slot '" + text +
                            "': unknown form; a slot is a port (/dev/ttyUSB0, /dev/serial/by-id/..., COM7, "
                            "rfc2217://HOST:PORT, socket://HOST:PORT) or usb:SERIAL");
      continue;
    }
    const auto [where, added] = seen.emplace(PortKey(slot), text);
    if (!added) {
      list.errors.push_back("slot '" + text + "': the same port as slot '" + where->second + "'");
      continue;
    }
    list.slots.push_back(std::move(slot));
  }
  return list;
}

std::string LocateSlot(const Slot& slot, const std::vector<PortInfo>& ports) {
  if (!slot.usbSerial.empty()) {
    const auto port =
        std::ranges::find_if(ports, [&](const PortInfo& candidate) { return candidate.serial == slot.usbSerial; });
    return port == ports.end() ? std::string() : port->name;
  }
  if (IsComName(slot.text) || net::IsNetworkPortName(slot.text)) {
    return slot.text;
  }
  std::error_code error;
  const std::filesystem::path device = std::filesystem::canonical(slot.text, error);
  return error ? std::string() : device.string();
}

}  // namespace fwu::station
