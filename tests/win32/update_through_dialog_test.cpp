#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "dialog_fixture.h"
#include "support/sim_peer.h"

namespace fwu::test {
namespace {

using Box = BoxCatcher::Box;
using sim::DeviceMemory;

bool SameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// The operator's whole session against the simulated controller, on the virtual clock: open, read the versions,
// update, close.
TEST(UpdateThroughDialogTest, OpenThenUpdateWritesBothImagesAndEndsWithFinished) {
  DialogHarness dialog(CarriedImages());
  ASSERT_TRUE(dialog.Created());
  SimPeer controller(dialog.port);

  dialog.port.SetOpenResult(OpenResult::Ok);
  dialog.Press(kIdComOpen);
  EXPECT_TRUE(dialog.boxes.Boxes().empty()) << dialog.boxes.Texts().front();
  EXPECT_EQ(dialog.Buttons(), kOpen);
  EXPECT_EQ(dialog.ControlText(kIdVersionText),
            "FIRMWARE          :1.00\r\nNEW FIRMWARE  :" + CarriedVersion().value_or(""));

  // Waiting before the update: a close request and a quit message. The update's message pump meets both while
  // the controller is written; neither may end the program.
  PostMessageA(dialog.Window(), WM_CLOSE, 0, 0);
  PostQuitMessage(0);
  dialog.Press(kIdUpdate);

  EXPECT_EQ(dialog.boxes.Boxes(), (std::vector<Box>{{"Finished", "", false}}));
  ASSERT_TRUE(dialog.Alive()) << "the close request met the busy flag";
  EXPECT_FALSE(dialog.TakeQuit().has_value()) << "the quit message was dropped by the pump";
  EXPECT_EQ(dialog.Buttons(), kOpen);
  EXPECT_FALSE(dialog.CloseItemGreyed());

  const HWND bar = GetDlgItem(dialog.Window(), kIdProgressBar);
  EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 2304) << "256 second-image and 2048 main-image blocks";
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 2304);
  EXPECT_EQ(dialog.ControlText(kIdPercentText), "100 %");

  EXPECT_EQ(controller.Loader().UpdatesFinished(), 1);
  EXPECT_TRUE(SameBytes(controller.Memory().Bytes(DeviceMemory::Region::Main), MainImage()));
  EXPECT_TRUE(SameBytes(controller.Memory().Bytes(DeviceMemory::Region::Second), SecondImage()));

  dialog.Press(kIdComClose);
  EXPECT_EQ(dialog.Buttons(), kClosed);
  EXPECT_TRUE(dialog.RequestClose());
  EXPECT_EQ(dialog.TakeQuit(), std::optional<WPARAM>(0));
}

}  // namespace
}  // namespace fwu::test
