// The portable parts of the port list: reading USB ids from Windows instance ids, attaching the stable by-id
// names, and the line a port is shown in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/port_list.h"

namespace fwu {
namespace {

TEST(PortList, ReadsUsbIdsAndSerialFromInstanceIds) {
  struct Case {
    const char* instanceId;
    const char* usbId;
    const char* serial;
  };
  const Case cases[] = {
      {R"(USB\VID_0403&PID_6001\A50285BI)", "0403:6001", "A50285BI"},
      {R"(FTDIBUS\VID_0403+PID_6015+DK0B1ZQZA\0000)", "0403:6015", "DK0B1ZQZA"},
      {R"(USB\VID_1A86&PID_7523\5&2F4B3C1&0&3)", "1a86:7523", ""},  // Windows made the last part up
      {R"(USB\VID_067B&PID_2303&MI_00\6&1234&0&0000)", "067b:2303", ""},
      {R"(ACPI\PNP0501\1)", "", ""},
      {R"(USB\VID_04)", "", ""},
      {R"(USB\VID_XYZW&PID_6001\A1)", "", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.instanceId);
    const UsbIdentity usb = UsbIdentityFromInstanceId(c.instanceId);
    EXPECT_EQ(usb.usbId, c.usbId);
    EXPECT_EQ(usb.serial, c.serial);
  }
}

TEST(PortList, ShowsEachPortWithItsStableNames) {
  std::vector<PortInfo> ports = {
      {"/dev/ttyUSB0", "FT232R USB UART", "0403:6001", "A50285BI", {}, ""},
      {"/dev/ttyS0", "", "", "", {}, ""},
  };
  AttachAliases(ports, {{"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "/dev/ttyUSB0"},
                        {"/dev/serial/by-id/usb-Other-if00", "/dev/ttyACM3"},
                        {"/dev/serial/by-id/usb-Alias_A-if00", "/dev/ttyUSB0"}});
  EXPECT_EQ(PortLine(ports[0]),
            "/dev/ttyUSB0  FT232R USB UART  usb 0403:6001  serial A50285BI  /dev/serial/by-id/usb-Alias_A-if00  "
            "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  EXPECT_EQ(PortLine(ports[1]), "/dev/ttyS0");
}

}  // namespace
}  // namespace fwu
