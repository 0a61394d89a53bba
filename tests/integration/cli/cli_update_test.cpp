#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/outcome.h"
#include "fwsim_process.h"
#include "image_files.h"
#include "support/image_builder.h"
#include "update/images.h"

namespace fwu::test {
namespace {

// Wait() gives up after its deadline; an update of the small test images takes a few seconds.
constexpr int kWaitRounds = 12;

std::optional<int> WaitLong(FwsimProcess& process) {
  for (int round = 0; round < kWaitRounds; ++round) {
    if (const auto status = process.Wait()) {
      return status;
    }
  }
  return std::nullopt;
}

nlohmann::json ReadJson(const std::string& path) {
  std::ifstream file(path);
  return nlohmann::json::parse(file, nullptr, false);
}

// Three controllers at once: one healthy, one refusing 03 20 with a device status, one falling silent after
// five blocks; and a port that is not there. Each port gets its own outcome line and record; no port's failure
// touches another's update.
TEST(CliUpdateTest, ThreeControllersAtOnceEachEndAsTheirControllerDecides) {
  struct Row {
    const char* name;
    std::vector<std::string> fwsimArgs;
    std::string outcomeLine;  // after "PORT: "
    const char* outcome;
    nlohmann::json resultCode;
    nlohmann::json deviceStatus;
    nlohmann::json phase;
    nlohmann::json blockAddress;
    int blocksWritten;
  };
  TempDir dir;
  const ImageFiles images(dir, 20, 10);
  const std::string timeout = "     -11 : When sending the command, ACK reception timeout";
  const std::vector<Row> rows = {
      {"healthy",
       {"--expect-main", images.main, "--expect-second", images.second, "--exit-after-update"},
       "Finished",
       "finished",
       nullptr,
       nullptr,
       nullptr,
       nullptr,
       30},
      {"device status",
       {"--status", "03:20=0012", "--exit-on-close"},
       "0012 : Errors (stopped at second-image preparation (03 20))",
       "device_error",
       nullptr,
       18,
       "second-image preparation (03 20)",
       nullptr,
       0},
      {"missing port", {}, "Open Err1", "open_failed", nullptr, nullptr, nullptr, nullptr, 0},
      {"silent after 5 blocks",
       {"--stop-after-blocks", "5", "--exit-on-close"},
       timeout + " (stopped at block write, second image, address 0x30500)",
       "link_failure",
       -11,
       nullptr,
       "block write, second image, address 0x30500",
       0x30500,
       5},
  };
  std::vector<std::unique_ptr<FwsimProcess>> controllers;
  std::vector<std::string> args{"update", "--json", dir.Path("summary.json")};
  const std::vector<std::string> imageArgs = images.Args();
  args.insert(args.end(), imageArgs.begin(), imageArgs.end());
  for (const Row& row : rows) {
    if (row.fwsimArgs.empty()) {
      args.push_back(dir.Path("no-such-port"));
      continue;
    }
    controllers.push_back(std::make_unique<FwsimProcess>(row.fwsimArgs));
    args.push_back(controllers.back()->ReadLine());
    ASSERT_FALSE(args.back().empty()) << row.name << ": " << controllers.back()->ErrorOutput();
  }

  FwsimProcess cli(args, CLI_PATH);
  ASSERT_EQ(WaitLong(cli), 6) << cli.ErrorOutput();  // the first failing port's status, in the order given
  const std::string output = cli.RestOfOutput();
  const nlohmann::json summary = ReadJson(dir.Path("summary.json"));
  ASSERT_TRUE(summary.is_object()) << output;
  EXPECT_EQ(summary["exit_status"], 6);
  ASSERT_EQ(summary["ports"].size(), rows.size());

  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    const std::string& port = args[args.size() - rows.size() + i];
    EXPECT_NE(output.find(port + ": " + row.outcomeLine + "\n"), std::string::npos) << row.name << "\n" << output;
    const nlohmann::json& record = summary["ports"][i];
    EXPECT_EQ(record["port"], port) << row.name;
    EXPECT_EQ(record["outcome"], row.outcome) << row.name;
    EXPECT_EQ(record["result_code"], row.resultCode) << row.name;
    EXPECT_EQ(record["device_status"], row.deviceStatus) << row.name;
    EXPECT_EQ(record["phase"], row.phase) << row.name;
    EXPECT_EQ(record["block_address"], row.blockAddress) << row.name;
    EXPECT_EQ(record["blocks_written"], row.blocksWritten) << row.name;
    EXPECT_EQ(record["controller_version"], row.fwsimArgs.empty() ? nlohmann::json(nullptr) : "1.00") << row.name;
    EXPECT_EQ(record["carried_version"], "0213") << row.name;
  }
  // The final table names every port once.
  EXPECT_NE(output.find("port"), std::string::npos);
  EXPECT_EQ(WaitLong(*controllers[0]), 0);
  EXPECT_NE(controllers[0]->RestOfOutput().find("memory: main equal, second equal"), std::string::npos);
}

// Image files that break a rule of the build: one message naming file and offset, status 2, and no port opened
// (the port named does not exist, so opening it would have given status 3).
TEST(CliUpdateTest, BadImageFilesStopTheRunBeforeAnyPortIsOpened) {
  struct Row {
    const char* name;
    std::vector<std::uint8_t> main;
    std::vector<std::uint8_t> second;
    std::string message;  // after "fwupdate-cli: <file>: "
  };
  TempDir dir;
  ImageBuilder goodMain(kMainImageSize);
  goodMain.U32le(kModelNamePointer, 0xFFF81020).Text(0x1020, "KX-7").U32le(kVersionPointer, 0xFFF81030);
  goodMain.Text(0x1030, "0213");
  const std::vector<std::uint8_t> goodSecond(kSecondImageSize, 0xFF);
  ImageBuilder pointerOutside = goodMain;
  pointerOutside.U32le(kVersionPointer, 0x1030);
  ImageBuilder noNul = goodMain;
  noNul.U32le(kVersionPointer, 0xFFFFFFF0).Text(kMainImageSize - 16, "0123456789ABCDEF", false);
  const std::vector<Row> rows = {
      {"second image too short", goodMain.Bytes(), std::vector<std::uint8_t>(100, 0xFF),
       "second.bin: offset 0x64: the file ends after 100 bytes, but a second image must be exactly 65536 bytes"},
      {"version pointer outside the image", pointerOutside.Bytes(), goodSecond,
       "main.bin: offset 0x1014: the version pointer 0x1030 lies outside 0xFFF80000-0xFFFFFFFF"},
      {"version text without its NUL", noNul.Bytes(), goodSecond,
       "main.bin: offset 0x7FFF0: the version text at 0xFFFFFFF0 has no NUL inside the image"},
  };
  for (const Row& row : rows) {
    WriteFile(dir.Path("main.bin"), row.main);
    WriteFile(dir.Path("second.bin"), row.second);
    FwsimProcess cli(
        {"update", "--main", dir.Path("main.bin"), "--second", dir.Path("second.bin"), dir.Path("no-such-port")},
        CLI_PATH);
    EXPECT_EQ(WaitLong(cli), 2) << row.name;
    const std::string errors = cli.ErrorOutput();
    EXPECT_NE(errors.find("fwupdate-cli: " + dir.Path(row.message) + "\n"), std::string::npos) << row.name << "\n"
                                                                                               << errors;
  }
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) {
    lines.push_back(line);
  }
  return lines;
}

int CountContaining(const std::vector<std::string>& lines, const std::string& text) {
  return static_cast<int>(
      std::count_if(lines.begin(), lines.end(), [&](const std::string& line) { return line.find(text) != line.npos; }));
}

// Ctrl-C in the middle of the main image: the update ends between two exchanges, the controller saw every
// exchange it began closed, and the port is closed (fwsim ends on the close).
TEST(CliUpdateTest, CtrlCEndsTheUpdateAtABlockBoundary) {
  TempDir dir;
  const ImageFiles images(dir, 400, 2);
  FwsimProcess controller({"--log", dir.Path("frames.log"), "--exit-on-close"});
  const std::string port = controller.ReadLine();
  ASSERT_FALSE(port.empty()) << controller.ErrorOutput();
  std::vector<std::string> args{"update", "--json", dir.Path("summary.json"), port};
  const std::vector<std::string> imageArgs = images.Args();
  args.insert(args.end(), imageArgs.begin(), imageArgs.end());
  FwsimProcess cli(args, CLI_PATH);

  // Interrupted once a few main blocks have gone out: the log is the controller's own record.
  for (int polls = 0; CountContaining(ReadLines(dir.Path("frames.log")), "cmd=03:00") < 3; ++polls) {
    ASSERT_LT(polls, kDeadlineMs / 10) << "no main block written: " << cli.ErrorOutput();
    poll(nullptr, 0, 10);  // the condition waited for is the controller's log
  }
  cli.Signal(SIGINT);
  ASSERT_EQ(WaitLong(cli), 130) << cli.ErrorOutput();
  EXPECT_EQ(WaitLong(controller), 0);

  const auto log = ReadLines(dir.Path("frames.log"));
  ASSERT_GE(log.size(), 6U);
  // The last block's whole exchange: Frame, ACK, EOT, answer, ACK, closing EOT.
  const std::vector<std::string> closing = {"in frame STX",  "out frame ACK", "in frame EOT",
                                            "out frame STX", "in frame ACK",  "out frame EOT"};
  for (std::size_t i = 0; i < closing.size(); ++i) {
    EXPECT_NE(log[log.size() - closing.size() + i].find(closing[i]), std::string::npos)
        << log[log.size() - closing.size() + i];
  }
  EXPECT_NE(log[log.size() - closing.size()].find("cmd=03:00"), std::string::npos);

  const nlohmann::json summary = ReadJson(dir.Path("summary.json"));
  ASSERT_TRUE(summary.is_object());
  const nlohmann::json& record = summary["ports"][0];
  EXPECT_EQ(record["outcome"], "interrupted");
  EXPECT_EQ(record["message"], cli::kInterruptedText);
  const int blocks = CountContaining(log, "cmd=03:00") + CountContaining(log, "cmd=03:10");
  EXPECT_EQ(record["blocks_written"], blocks);
  EXPECT_NE(cli.RestOfOutput().find(port + ": " + cli::kInterruptedText + " (stopped at block write, main image"),
            std::string::npos);
}

}  // namespace
}  // namespace fwu::test
