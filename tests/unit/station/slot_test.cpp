#include "station/slot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fwu::station {
namespace {

// Slots are refused before anything starts, each with a message naming it: an unknown form, usb: without a
// serial number, and the same port twice however it is written (a link and its device, one serial number).
TEST(SlotTest, BadSlotsAreRefusedByName) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "fwu-slot-test";
  std::filesystem::create_directories(dir);
  std::ofstream((dir / "tty0").string()).put('\n');
  std::filesystem::remove(dir / "slot-a");
  std::filesystem::create_symlink(dir / "tty0", dir / "slot-a");
  const std::string tty = (dir / "tty0").string();
  const std::string link = (dir / "slot-a").string();

  struct Row {
    std::vector<std::string> slots;
    std::vector<std::string> accepted;
    std::vector<std::string> errors;
  };
  const std::vector<Row> rows = {
      {{"/dev/ttyUSB0", "usb:A50285BI", "COM7", "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0"},
       {"/dev/ttyUSB0", "usb:A50285BI", "COM7", "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0"},
       {}},
      {{tty, link}, {tty}, {"slot '" + link + "': the same port as slot '" + tty + "'"}},
      {{"usb:X1", "usb:X1", "usb:"},
       {"usb:X1"},
       {"slot 'usb:X1': the same port as slot 'usb:X1'",
        "slot 'usb:': usb: needs the adapter's serial number, as 'fwupdate-cli ports' shows it (usb:A50285BI)"}},
      {{"serial:COM7", "rfc9999://host:4000", "rfc2217://gw:0", ""},
       {},
       {"slot 'serial:COM7': unknown form; a slot is a port (/dev/ttyUSB0, /dev/serial/by-id/..., COM7, "
        "rfc2217://HOST:PORT, socket://HOST:PORT) or usb:SERIAL",
        "slot 'rfc9999://host:4000': unknown scheme 'rfc9999' (rfc2217:// or socket://)",
        "slot 'rfc2217://gw:0': the port '0' is not a number in 1-65535", "slot '': a slot needs a port name"}},
      // One server's port, whatever the scheme, the case or a trailing slash; another port is another line.
      {{"rfc2217://GW.example:2217", "socket://gw.EXAMPLE:2217/", "rfc2217://gw.example:2218"},
       {"rfc2217://GW.example:2217", "rfc2217://gw.example:2218"},
       {"slot 'socket://gw.EXAMPLE:2217/': the same port as slot 'rfc2217://GW.example:2217'"}},
  };
  for (const Row& row : rows) {
    const SlotList list = ParseSlots(row.slots);
    std::vector<std::string> accepted;
    for (const Slot& slot : list.slots) {
      accepted.push_back(slot.text);
    }
    EXPECT_EQ(accepted, row.accepted) << row.slots[0];
    EXPECT_EQ(list.errors, row.errors) << row.slots[0];
  }

  // A link leads to its device; a usb: slot to the port with its serial number; both to nothing while absent.
  const std::vector<PortInfo> ports = {{"/dev/ttyUSB3", "", "0403:6001", "A50285BI", {}, ""}};
  EXPECT_EQ(LocateSlot({link, ""}, ports), std::filesystem::canonical(tty).string());
  EXPECT_EQ(LocateSlot({"usb:A50285BI", "A50285BI"}, ports), "/dev/ttyUSB3");
  EXPECT_EQ(LocateSlot({"usb:B0", "B0"}, ports), "");
  EXPECT_EQ(LocateSlot({"rfc2217://gw:2217", ""}, ports), "rfc2217://gw:2217");
  std::filesystem::remove(dir / "tty0");
  EXPECT_EQ(LocateSlot({link, ""}, ports), "");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace fwu::station
