// The values an update reports for each way it can end, read without any window.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/image_builder.h"
#include "unit/update/boot_loader_double.h"
#include "update/update_sequence.h"

namespace fwu {
namespace {

using test::BootLoaderDouble;
using test::Bytes;

constexpr std::uint32_t kBlock = 256;

// Stops the run once it has seen a number of block positions (0: before the first write).
class StopAfter : public RunObserver {
 public:
  explicit StopAfter(int positions) : positions_(positions) {}
  void OnBlock(const BlockStep& /*step*/) override { ++seen_; }
  bool StopRequested() override { return positions_ >= 0 && seen_ >= positions_; }

 private:
  int positions_;
  int seen_ = 0;
};

TEST(RunResult, EachOutcomeReportsWhatHappenedAsValues) {
  test::ImageBuilder main(kMainImageSize);
  test::ImageBuilder second(kSecondImageSize);
  for (std::uint32_t k = 0; k < 3; ++k) {
    main.Byte(k * kBlock, 0x00);
    second.Byte(k * kBlock, 0x00);
  }
  const auto kind = [](std::uint8_t value) {
    return [value](test::LoaderRig& rig) { rig.loader.SetProgramKind(value); };
  };
  const auto failOn = [](const char* command, BootLoaderDouble::Answer answer) {
    return [command, answer](test::LoaderRig& rig) {
      rig.loader.OnCommand([=](const Bytes& sent, int /*index*/) -> std::optional<BootLoaderDouble::Answer> {
        return BootLoaderDouble::Describe(sent).starts_with(command) ? std::optional(answer) : std::nullopt;
      });
    };
  };
  struct Case {
    const char* what;
    std::function<void(test::LoaderRig&)> setUp;
    int stopAfter;
    Outcome outcome;
    std::int16_t resultCode;
    std::uint16_t deviceStatus;
    LastSent last;
    std::string lastCommand;  // code bytes of the last command, "" for none
    std::optional<std::uint32_t> blockAddress;
    std::optional<std::uint8_t> programKind;
    std::uint32_t written;
    std::uint32_t skipped;
    bool versionsAnswered;
  };
  const Case cases[] = {
      {"finished, main image only",
       kind(0x20),
       -1,
       Outcome::Finished,
       0,
       0,
       LastSent::Command,
       "07 00",
       {},
       0x20,
       3,
       2045,
       true},
      {"finished, both images",
       kind(0x10),
       -1,
       Outcome::Finished,
       0,
       0,
       LastSent::Command,
       "07 00",
       {},
       0x10,
       6,
       2298,
       true},
      {"open failure",
       [](test::LoaderRig& rig) { rig.port.SetOpen(false); },
       -1,
       Outcome::OpenFailed,
       -1,
       0,
       LastSent::Nothing,
       "",
       {},
       {},
       0,
       0,
       false},
      {"no boot loader",
       [](test::LoaderRig& rig) { rig.loader.RefuseEnquiry(); },
       -1,
       Outcome::NoBootLoader,
       -1,
       0,
       LastSent::BootEntry,
       "",
       {},
       {},
       0,
       0,
       false},
      {"program unknown",
       kind(0x30),
       -1,
       Outcome::ProgramUnknown,
       0,
       0,
       LastSent::Command,
       "0A 00",
       {},
       0x30,
       0,
       0,
       true},
      {"device error",
       failOn("02 00", BootLoaderDouble::Status(0x0012)),
       -1,
       Outcome::DeviceError,
       -80,
       0x0012,
       LastSent::Command,
       "02 00",
       {},
       0x20,
       0,
       0,
       true},
      {"link failure", failOn("03 00 00 00 01 00", BootLoaderDouble::Silence()), -1, Outcome::LinkFailure, -11, 0,
       LastSent::Command, "03 00", 0x100, 0x20, 1, 0, true},
      {"interrupted before the first write",
       kind(0x20),
       0,
       Outcome::Interrupted,
       0,
       0,
       LastSent::Command,
       "0A 00",
       {},
       0x20,
       0,
       0,
       true},
      {"interrupted after the first write", kind(0x20), 5, Outcome::Interrupted, 0, 0, LastSent::Command, "03 00",
       0x200, 0x20, 3, 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::LoaderRig rig;
    c.setUp(rig);
    StopAfter observer(c.stopAfter);
    const RunResult result = RunUpdate(rig.link, observer, FirmwareImages{main.Bytes(), second.Bytes()});

    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.resultCode, c.resultCode);
    EXPECT_EQ(result.deviceStatus, c.deviceStatus);
    EXPECT_EQ(result.where.last, c.last);
    if (!c.lastCommand.empty()) {
      EXPECT_EQ(BootLoaderDouble::Describe(Bytes{result.where.command, result.where.qualifier}), c.lastCommand);
    }
    EXPECT_EQ(result.where.blockAddress, c.blockAddress);
    EXPECT_EQ(result.programKind, c.programKind);
    EXPECT_EQ(result.blocksWritten, c.written);
    EXPECT_EQ(result.blocksSkipped, c.skipped);
    EXPECT_EQ(result.versions.has_value() && result.versions->answered, c.versionsAnswered);
    if (c.versionsAnswered) {
      EXPECT_EQ(result.versions->controller, "0212");
    }
  }
}

}  // namespace
}  // namespace fwu
