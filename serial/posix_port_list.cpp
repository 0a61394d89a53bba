#include <libserialport.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "serial/port_list.h"

namespace fwu {

namespace {

// udev's stable names: one link per adapter, named after its maker, model and serial number; and one per socket
// it is plugged into, named after the bus path.
constexpr const char* kByIdFolder = "/dev/serial/by-id";
constexpr const char* kByPathFolder = "/dev/serial/by-path";

struct PortListDeleter {
  void operator()(sp_port** list) const { sp_free_port_list(list); }
};

std::string TextOrEmpty(const char* text) {
  return text != nullptr ? std::string(text) : std::string();
}

std::string UsbId(const sp_port* port) {
  int vendor = 0;
  int product = 0;
  if (sp_get_port_transport(port) != SP_TRANSPORT_USB || sp_get_port_usb_vid_pid(port, &vendor, &product) != SP_OK) {
    return {};
  }
  char text[16];
  const int length = std::snprintf(text, sizeof(text), "%04x:%04x", static_cast<unsigned>(vendor) & 0xFFFFU,
                                   static_cast<unsigned>(product) & 0xFFFFU);
  return length > 0 ? std::string(text) : std::string();
}

PortInfo Describe(const sp_port* port) {
  PortInfo info;
  info.name = TextOrEmpty(sp_get_port_name(port));
  info.description = TextOrEmpty(sp_get_port_description(port));
  info.usbId = UsbId(port);
  if (sp_get_port_transport(port) == SP_TRANSPORT_USB) {
    info.serial = TextOrEmpty(sp_get_port_usb_serial(port));
  }
  return info;
}

// Every link under a folder of stable names with the device it resolves to; none when the folder is missing (no
// USB serial adapter plugged in, or no udev).
std::vector<PortAlias> ReadAliases(const char* folder) {
  std::vector<PortAlias> aliases;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
    std::error_code resolveError;
    const std::filesystem::path target = std::filesystem::canonical(entry->path(), resolveError);
    if (!resolveError) {
      aliases.push_back({entry->path().string(), target.string()});
    }
  }
  return aliases;
}

}  // namespace

std::vector<PortInfo> ListPorts() {
  sp_port** found = nullptr;
  if (sp_list_ports(&found) != SP_OK || found == nullptr) {
    return {};
  }
  const std::unique_ptr<sp_port*, PortListDeleter> list(found);
  std::vector<PortInfo> ports;
  for (sp_port** port = list.get(); *port != nullptr; ++port) {
    ports.push_back(Describe(*port));
  }
  const std::vector<PortAlias> sockets = ReadAliases(kByPathFolder);
  std::vector<PortAlias> aliases = ReadAliases(kByIdFolder);
  aliases.insert(aliases.end(), sockets.begin(), sockets.end());
  AttachAliases(ports, aliases);
  for (const PortAlias& socket : sockets) {
    for (PortInfo& port : ports) {
      if (port.location.empty() && socket.target == port.name) {
        port.location = std::filesystem::path(socket.link).filename().string();
      }
    }
  }
  return ports;
}

}  // namespace fwu
