#include "update/versions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/dialog_adapter.h"
#include "support/image_builder.h"
#include "support/recording_window.h"
#include "support/scripted_port.h"
#include "support/virtual_clock.h"
#include "unit/update/boot_loader_double.h"

namespace fwu {
namespace {

using namespace std::string_literals;
using test::BootLoaderDouble;
using test::Bytes;
using test::ImageBuilder;
using test::RecordingWindow;
using Strings = std::vector<std::string>;

const std::string kFirmware = "FIRMWARE          :";  // ten spaces
const std::string kNewFirmware = "NEW FIRMWARE  :";   // two spaces

ImageBuilder ImageWith(const char* model, const char* version) {
  ImageBuilder image(kMainImageSize);
  image.U32le(kModelNamePointer, 0xFFF82000).U32le(kVersionPointer, 0xFFF82100);
  if (model != nullptr) {
    image.Text(0x2000, model);
  }
  if (version != nullptr) {
    image.Text(0x2100, version);
  }
  return image;
}

class VersionsTest : public ::testing::Test, protected test::LoaderRig {
 protected:
  void AnswerVersionQueryWith(const BootLoaderDouble::Answer& answer) {
    loader.OnCommand([answer](const Bytes& command, int) -> std::optional<BootLoaderDouble::Answer> {
      return command == Bytes{0xF0, 0x10} ? std::optional(answer) : std::nullopt;
    });
  }
  // The version display as set, before the window cuts it at a NUL.
  [[nodiscard]] std::string RawVersionText() const {
    std::string last;
    for (const std::string& entry : window.Log()) {
      if (entry.starts_with("text:1008:")) {
        last = entry.substr(10);
      }
    }
    return last;
  }

  ImageBuilder image = ImageWith("KX-7", "0213");
};

TEST_F(VersionsTest, ShowsTheControllerVersionBesideTheCarriedOne) {
  struct Case {
    const char* what;
    BootLoaderDouble::Answer answer;
    std::string display;
    std::vector<RecordingWindow::Box> boxes;
  };
  const std::string overrun = "     -28 : Other errors";
  const std::vector<Case> cases = {
      {"seven bytes", BootLoaderDouble::Ok({'1', '2', '3', '4'}), kFirmware + "1234\r\n" + kNewFirmware + "0213", {}},
      {"three bytes", BootLoaderDouble::Ok(), kFirmware + "\r\n" + kNewFirmware + "0213", {}},
      {"blanks kept", BootLoaderDouble::Ok({' ', '9', ' '}), kFirmware + " 9 \r\n" + kNewFirmware + "0213", {}},
      {"device status",
       BootLoaderDouble::Status(0x0012),
       kFirmware + "\r\n" + kNewFirmware,
       {{"0012 : Errors", "0012 : Errors", BoxStyle::Error}}},
      {"one byte past the capacity",
       BootLoaderDouble::Ok(Bytes(276, 'A')),
       kFirmware + "\r\n" + kNewFirmware,
       {{overrun, overrun, BoxStyle::Error}}},
      {"the longest answer",
       BootLoaderDouble::Ok(Bytes(275, 'A')),
       kFirmware + std::string(275, 'A') + "\r\n" + kNewFirmware + "0213",
       {}},
  };
  for (const Case& c : cases) {
    test::LoaderRig rig;
    rig.loader.OnCommand([&](const Bytes& command, int) -> std::optional<BootLoaderDouble::Answer> {
      return command == Bytes{0xF0, 0x10} ? std::optional(c.answer) : std::nullopt;
    });
    ReadVersions(rig.link, rig.window, image.Bytes());

    EXPECT_EQ(rig.loader.Events(), (Strings{"id", "enq", "F0 10"})) << c.what;
    EXPECT_EQ(rig.window.ControlText(kIdVersionText), c.display) << c.what;
    EXPECT_EQ(rig.window.Boxes(), c.boxes) << c.what;
    // The title is refreshed after the display, whatever the query gave.
    ASSERT_GE(rig.window.Log().size(), 2U) << c.what;
    EXPECT_EQ(rig.window.Log().back(), "title:UPDATE  KX-7  0213") << c.what;
    EXPECT_TRUE(rig.window.Log()[rig.window.Log().size() - 2].starts_with("text:1008:")) << c.what;
  }
}

TEST_F(VersionsTest, ANulInTheControllerVersionIsKeptAndEndsTheShownText) {
  AnswerVersionQueryWith(BootLoaderDouble::Ok({'1', 0x00, '2'}));
  ReadVersions(link, window, image.Bytes());
  EXPECT_EQ(RawVersionText(), kFirmware + "1\0"s + "2\r\n" + kNewFirmware + "0213");
  EXPECT_EQ(window.ControlText(kIdVersionText), kFirmware + "1");
}

TEST_F(VersionsTest, QueryVersionsFillsBothTextsOrNeither) {
  std::string controller = "old";
  std::string carried = "old";
  AnswerVersionQueryWith(BootLoaderDouble::Ok({'7', 0x00, 0xFF}));
  QueryVersions(link, window, controller, carried, image.Bytes());
  EXPECT_EQ(controller, "7\0\xFF"s);
  EXPECT_EQ(carried, "0213");

  AnswerVersionQueryWith(BootLoaderDouble::Status(0xABCD));
  QueryVersions(link, window, controller, carried, image.Bytes());
  EXPECT_EQ(controller, "");
  EXPECT_EQ(carried, "");  // also the carried one, though it comes from the image
  EXPECT_EQ(window.Boxes().back().text, "ABCD : Errors");
}

TEST_F(VersionsTest, AnErasedCarriedVersionLeavesItsValueEmpty) {
  image = ImageWith("KX-7", nullptr);  // the pointer aims at 0xFF
  AnswerVersionQueryWith(BootLoaderDouble::Ok({'1', '2', '3', '4'}));
  ReadVersions(link, window, image.Bytes());
  EXPECT_EQ(window.ControlText(kIdVersionText), kFirmware + "1234\r\n" + kNewFirmware);
  EXPECT_EQ(window.Title(), "UPDATE  KX-7  ");
}

TEST_F(VersionsTest, NothingOnScreenChangesWhenBootModeIsNotReached) {
  port.SetOpen(false);
  ReadVersions(link, window, image.Bytes());
  EXPECT_EQ(window.Log(), (Strings{"box:Open Err10|Open Err10|error"}));
  EXPECT_EQ(port.WriteCalls(), 0);

  test::VirtualClock silentClock;
  test::ScriptedPort silentPort{silentClock};
  Link silentLink{silentPort, silentClock};
  RecordingWindow silentWindow;
  BootLoaderDouble silentLoader{silentPort};
  silentLoader.RefuseEnquiry();
  ReadVersions(silentLink, silentWindow, image.Bytes());
  EXPECT_EQ(silentWindow.Log(), (Strings{"box:ACK receive timeout|ACK receive timeout|error"}));
  EXPECT_EQ(silentLoader.Events(), (Strings{"id", "enq"}));
}

TEST_F(VersionsTest, ALongBootReplyDoesNotStopTheRead) {
  // Longer than the read's 100-byte reply buffer; the excess is dropped (ASan watches the buffer).
  loader.SetBootReplyBody(Bytes(150, 'R'));
  AnswerVersionQueryWith(BootLoaderDouble::Ok({'1'}));
  ReadVersions(link, window, image.Bytes());
  EXPECT_EQ(window.ControlText(kIdVersionText), kFirmware + "1\r\n" + kNewFirmware + "0213");
}

TEST(ShowTitle, ComposesModelNameAndCarriedVersion) {
  struct Case {
    const char* model;
    const char* version;
    std::string title;
  };
  const std::vector<Case> cases = {
      {"KX-7", "0213", "UPDATE  KX-7  0213"},
      {nullptr, "0213", "UPDATE    0213"},
      {"KX-7", nullptr, "UPDATE  KX-7  "},
      {nullptr, nullptr, "UPDATE    "},
      {"", "", "UPDATE    "},
  };
  for (const Case& c : cases) {
    RecordingWindow window;
    ShowTitle(window, ImageWith(c.model, c.version).Bytes());
    EXPECT_EQ(window.Log(), Strings{"title:" + c.title});
  }
}

TEST(ShowTitle, UsesTheCarriedImageByDefault) {
  RecordingWindow window;
  ShowTitle(window);
  EXPECT_EQ(window.Title(), "UPDATE  " + CarriedModelName().value() + "  " + CarriedVersion().value());
}

}  // namespace
}  // namespace fwu
