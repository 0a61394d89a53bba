#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
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
      {"missing port", {}, "Open Err1: no such device", "open_failed", nullptr, nullptr, nullptr, nullptr, 0},
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

// A port that cannot be opened keeps the dialog's text and adds the system's reason, in the outcome line and the
// JSON record.
TEST(CliUpdateTest, AnOpenFailureNamesTheSystemsReason) {
  struct Row {
    const char* name;
    std::string port;
    const char* message;
    const char* reason;
  };
  TempDir dir;
  WriteFile(dir.Path("a-file"), std::vector<std::uint8_t>{1, 2, 3});
  FwsimProcess controller({"--exit-on-close"});
  const std::string held = controller.ReadLine();
  ASSERT_FALSE(held.empty()) << controller.ErrorOutput();
  // Another updater holds it: its advisory lock is what a second one meets.
  const int holder = open(held.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  const std::vector<Row> rows = {
      {"absent", dir.Path("no-such-port"), "Open Err1", "no such device"},
      {"no terminal", dir.Path("a-file"), "Open Err2", "not a serial port"},
      {"held by another program", held, "Open Err1", "in use by another program"},
  };
  std::vector<std::string> args{"update", "--json", dir.Path("summary.json")};
  for (const Row& row : rows) {
    args.push_back(row.port);
  }
  FwsimProcess cli(args, CLI_PATH);
  EXPECT_EQ(WaitLong(cli), 3) << cli.ErrorOutput();
  const std::string output = cli.RestOfOutput();
  const nlohmann::json summary = ReadJson(dir.Path("summary.json"));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    EXPECT_NE(output.find(row.port + ": " + row.message + ": " + row.reason + "\n"), std::string::npos)
        << row.name << "\n"
        << output;
    EXPECT_EQ(summary["ports"][i]["message"], row.message) << row.name;
    EXPECT_EQ(summary["ports"][i]["reason"], row.reason) << row.name;
  }
  close(holder);
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

// `update --json DIR/summary.json PORT --main ... --second ...`
std::vector<std::string> UpdateArgs(const TempDir& dir, const ImageFiles& images, const std::string& port) {
  std::vector<std::string> args{"update", "--json", dir.Path("summary.json"), port};
  const std::vector<std::string> imageArgs = images.Args();
  args.insert(args.end(), imageArgs.begin(), imageArgs.end());
  return args;
}

// Whether fwsim's log comes to hold text on at least the given number of lines before the deadline.
bool LogShows(const std::string& log, const std::string& text, int lines) {
  for (int polls = 0; CountContaining(ReadLines(log), text) < lines; ++polls) {
    if (polls >= kDeadlineMs / 10) {
      return false;
    }
    poll(nullptr, 0, 10);  // the condition waited for is the controller's log
  }
  return true;
}

// Ctrl-C in the middle of the main image: the update ends between two exchanges, the controller saw every
// exchange it began closed, and the port is closed (fwsim ends on the close).
TEST(CliUpdateTest, CtrlCEndsTheUpdateAtABlockBoundary) {
  TempDir dir;
  const ImageFiles images(dir, 400, 2);
  FwsimProcess controller({"--log", dir.Path("frames.log"), "--exit-on-close"});
  const std::string port = controller.ReadLine();
  ASSERT_FALSE(port.empty()) << controller.ErrorOutput();
  FwsimProcess cli(UpdateArgs(dir, images, port), CLI_PATH);

  // Interrupted once a few main blocks have gone out: the log is the controller's own record.
  ASSERT_TRUE(LogShows(dir.Path("frames.log"), "cmd=03:00", 3)) << "no main block written: " << cli.ErrorOutput();
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

// Unattended runs: a reader that goes away, SIGTERM and SIGHUP, a Ctrl-C before the first write, and a run killed
// outright. Each run but the last ends with its outcome line, its JSON and the status of its ports; the last
// leaves the previous JSON as it was.
TEST(CliUpdateTest, UnattendedRunsEndWithTheirResultsOrKeepThePreviousOnes) {
  enum class Action { CloseOutput, Signal };
  struct Row {
    const char* name;
    std::vector<std::string> fwsimArgs;
    const char* waitFor;  // in fwsim's log, three times (a command once), before the action
    Action action;
    int signal;
    int status;
    const char* outcome;  // empty: the previous JSON is kept
    const char* message;
    const char* phase;  // the beginning of it
    const char* stoppedBy;
    std::uint32_t mainBlocks = 400;  // enough for the signal to come in the middle of the main image
  };
  const std::vector<Row> rows = {
      {"standard output closed", {}, nullptr, Action::CloseOutput, 0, 0, "finished", "Finished", nullptr, nullptr, 20},
      {"SIGTERM",
       {},
       "cmd=03:00",
       Action::Signal,
       SIGTERM,
       143,
       "interrupted",
       cli::kInterruptedText,
       "block write, main image, address 0x",
       "SIGTERM"},
      {"SIGHUP",
       {},
       "cmd=03:00",
       Action::Signal,
       SIGHUP,
       129,
       "interrupted",
       cli::kInterruptedText,
       "block write, main image, address 0x",
       "SIGHUP"},
      // Every answer held back 300 ms: the signal comes while the program-kind query waits for its ACK.
      {"Ctrl-C before the first write",
       {"--reply-delay", "300"},
       "cmd=0A:00",
       Action::Signal,
       SIGINT,
       130,
       "interrupted",
       cli::kInterruptedBeforeWritingText,
       "program kind query (0A 00)",
       "SIGINT"},
      {"killed outright", {}, "cmd=03:00", Action::Signal, SIGKILL, 128 + SIGKILL, "", "", nullptr, nullptr},
  };
  for (const Row& row : rows) {
    TempDir dir;
    const ImageFiles images(dir, row.mainBlocks, 2);
    const std::string previous = "{\"previous\": true}\n";
    WriteFile(dir.Path("summary.json"), std::vector<std::uint8_t>(previous.begin(), previous.end()));
    std::vector<std::string> simArgs{"--log", dir.Path("frames.log"), "--exit-on-close"};
    simArgs.insert(simArgs.end(), row.fwsimArgs.begin(), row.fwsimArgs.end());
    FwsimProcess controller(simArgs);
    const std::string port = controller.ReadLine();
    ASSERT_FALSE(port.empty()) << controller.ErrorOutput();
    FwsimProcess cli(UpdateArgs(dir, images, port), CLI_PATH);

    if (row.action == Action::CloseOutput) {
      cli.CloseOutput();
    } else {
      const int lines = std::string(row.waitFor) == "cmd=03:00" ? 3 : 1;
      ASSERT_TRUE(LogShows(dir.Path("frames.log"), row.waitFor, lines))
          << row.name << ": " << row.waitFor << " never came: " << cli.ErrorOutput();
      cli.Signal(row.signal);
    }
    ASSERT_EQ(WaitLong(cli), row.status) << row.name << ": " << cli.ErrorOutput();

    const std::vector<std::uint8_t> json = ReadFile(dir.Path("summary.json"));
    EXPECT_FALSE(std::filesystem::exists(dir.Path("summary.json.partial"))) << row.name;
    if (std::string(row.outcome).empty()) {
      EXPECT_EQ(std::string(json.begin(), json.end()), previous) << row.name;
      continue;
    }
    const nlohmann::json summary = nlohmann::json::parse(json.begin(), json.end(), nullptr, false);
    ASSERT_TRUE(summary.is_object()) << row.name;
    EXPECT_EQ(summary["exit_status"], row.status) << row.name;
    EXPECT_EQ(summary["stopped_by"], row.stoppedBy == nullptr ? nlohmann::json(nullptr) : row.stoppedBy) << row.name;
    const nlohmann::json& record = summary["ports"][0];
    EXPECT_EQ(record["outcome"], row.outcome) << row.name;
    EXPECT_EQ(record["message"], row.message) << row.name;
    if (row.phase != nullptr) {
      EXPECT_TRUE(record["phase"].get<std::string>().starts_with(row.phase)) << row.name << ": " << record["phase"];
    }
    const auto log = ReadLines(dir.Path("frames.log"));
    EXPECT_EQ(record["blocks_written"], CountContaining(log, "cmd=03:00") + CountContaining(log, "cmd=03:10"))
        << row.name;
    if (row.signal == SIGINT) {
      EXPECT_EQ(CountContaining(log, "cmd=03:20"), 0) << row.name << ": nothing may be written";
    }
    if (row.action == Action::Signal) {
      EXPECT_NE(cli.RestOfOutput().find(port + ": " + row.message), std::string::npos) << row.name;
    }
  }
}

}  // namespace
}  // namespace fwu::test
