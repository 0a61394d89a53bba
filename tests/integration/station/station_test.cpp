#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "fwsim_process.h"
#include "image_files.h"
#include "ser2net_server.h"
#include "station/records_file.h"

namespace fwu::test {
namespace {

// Rounds of FwsimProcess's own deadline: a unit of the small images below takes a few seconds, a silent one the
// link's time limits on top.
constexpr int kRounds = 12;

int CountLinesWith(const std::string& path, const std::string& text) {
  std::ifstream file(path);
  int count = 0;
  for (std::string line; std::getline(file, line);) {
    count += line.find(text) != std::string::npos ? 1 : 0;
  }
  return count;
}

// Waits, polling, until condition holds; false at the deadline.
bool WaitUntil(const std::function<bool()>& condition) {
  for (int polls = 0; polls < kRounds * kDeadlineMs / 10; ++polls) {
    if (condition()) {
      return true;
    }
    poll(nullptr, 0, 10);  // the condition is a file the programs write
  }
  return false;
}

// The station's plain lines (its output is no terminal), read as they come.
class StationOutput {
 public:
  explicit StationOutput(FwsimProcess& station) : station_(station) {}
  // Reads lines until one holds both texts; false at the deadline. What was read stays in Seen().
  bool WaitFor(const std::string& slot, const std::string& state) {
    return WaitForEach({slot}, [&](const std::string& line) { return line.find(state) != std::string::npos; });
  }
  // Reads lines until each slot has had a line whose state is state, exactly.
  bool WaitForState(const std::vector<std::string>& slots, const std::string& state) {
    return WaitForEach(slots, [&](const std::string& line) { return line.ends_with("  " + state); });
  }

 private:
  bool WaitForEach(std::vector<std::string> slots, const std::function<bool(const std::string&)>& wanted) {
    for (int round = 0; round < kRounds && !slots.empty();) {
      const std::string line = station_.ReadLine();
      if (line.empty()) {
        ++round;
        continue;
      }
      seen_ += line + "\n";
      std::erase_if(slots, [&](const std::string& slot) {
        return line.find("  " + slot + "  ") != std::string::npos && wanted(line);
      });
    }
    return slots.empty();
  }

 public:
  [[nodiscard]] const std::string& Seen() const { return seen_; }

 private:
  FwsimProcess& station_;
  std::string seen_;
};

// A unit in a slot: fwsim makes the slot's link to its terminal when it starts, and takes it away when it ends.
std::unique_ptr<FwsimProcess> Plug(const std::string& slot, const std::string& log, std::vector<std::string> args) {
  args.insert(args.end(), {"--link", slot, "--log", log});
  auto unit = std::make_unique<FwsimProcess>(args);
  EXPECT_FALSE(unit->ReadLine().empty()) << unit->ErrorOutput();
  return unit;
}

// Takes the unit out; its memory verdict, if it was asked for one.
std::string Unplug(std::unique_ptr<FwsimProcess>& unit) {
  unit->Signal(SIGTERM);
  EXPECT_TRUE(unit->Wait().has_value());
  std::string rest = unit->RestOfOutput();
  unit.reset();
  return rest;
}

std::vector<nlohmann::ordered_json> ReadRecords(const std::string& path) {
  station::RecordsRead read;
  std::string error;
  station::ReadRecordsFile(path, read, error);
  EXPECT_TRUE(read.warnings.empty()) << read.warnings.front();
  return read.records;
}

// Two slots, five units one after another: healthy units of both program kinds, one refusing 03 20 with a device
// status, one falling silent mid-update, and a finished unit left in its slot while the other slot works. Every
// unit is updated once and recorded; the unit left in its slot is tried but not updated again, and the next unit
// in that slot is.
TEST(StationTest, FiveUnitsInTwoSlots) {
  TempDir dir;
  const ImageFiles images(dir, 20, 10);
  const std::string slotA = dir.Path("slotA");
  const std::string slotB = dir.Path("slotB");
  const std::string records = dir.Path("line.jsonl");
  FwsimProcess station({"station", "--main", images.main, "--second", images.second, "--records", records, "--station",
                        "line-3", "--operator", "Ann", "--lot", "L42", "--trace-dir", dir.Path("traces"), slotA, slotB},
                       CLI_PATH);
  EXPECT_EQ(station.ReadLine(), "station line-3: records to " + records + "; 2 slots; Ctrl-C stops");
  StationOutput output(station);

  auto a1 = Plug(slotA, dir.Path("a1.log"), {"--expect-main", images.main, "--expect-second", images.second});
  auto b1 = Plug(slotB, dir.Path("b1.log"), {"--program-kind", "20", "--expect-main", images.main});
  ASSERT_TRUE(WaitUntil([&] { return ReadRecords(records).size() == 2; })) << output.Seen() << station.ErrorOutput();
  // A1 stays: the station keeps trying it about once a second, and never updates it again.
  ASSERT_TRUE(WaitUntil([&] { return CountLinesWith(dir.Path("a1.log"), " in id ") >= 5; }));
  EXPECT_EQ(CountLinesWith(dir.Path("a1.log"), "cmd=0A:00"), 1);
  EXPECT_NE(Unplug(b1).find("memory: main equal"), std::string::npos);
  EXPECT_NE(Unplug(a1).find("memory: main equal, second equal"), std::string::npos);
  ASSERT_TRUE(output.WaitFor(slotA, "waiting for a unit (no port)")) << output.Seen();

  auto a2 = Plug(slotA, dir.Path("a2.log"), {"--status", "03:20=0012"});
  ASSERT_TRUE(output.WaitFor(slotA, "failed: 0012 : Errors: remove the unit")) << output.Seen();
  auto b2 = Plug(slotB, dir.Path("b2.log"), {"--stop-after-blocks", "5"});
  ASSERT_TRUE(output.WaitFor(slotB, "failed:      -11 : When sending the command, ACK reception timeout: remove"))
      << output.Seen();
  Unplug(b2);
  ASSERT_TRUE(output.WaitFor(slotB, "waiting for a unit (no port)")) << output.Seen();
  auto b3 = Plug(slotB, dir.Path("b3.log"), {"--expect-main", images.main, "--expect-second", images.second});
  ASSERT_TRUE(output.WaitFor(slotB, "finished: remove the unit")) << output.Seen();
  station.Signal(SIGINT);
  std::optional<int> status;
  for (int round = 0; round < kRounds && !status; ++round) {
    status = station.Wait();
  }
  EXPECT_EQ(status, 130);
  EXPECT_NE(station.RestOfOutput().find("station stopped by SIGINT: 5 units, 3 finished, 2 failed"), std::string::npos);
  EXPECT_NE(Unplug(b3).find("memory: main equal, second equal"), std::string::npos);
  Unplug(a2);

  struct Row {
    std::string slot;
    const char* outcome;
    nlohmann::ordered_json resultCode;
    nlohmann::ordered_json deviceStatus;
    nlohmann::ordered_json phase;
    int blocksWritten;
  };
  const std::vector<Row> rows = {
      {slotA, "finished", nullptr, nullptr, nullptr, 30},
      {slotB, "finished", nullptr, nullptr, nullptr, 20},
      {slotA, "device_error", nullptr, 18, "second-image preparation (03 20)", 0},
      {slotB, "link_failure", -11, nullptr, "block write, second image, address 0x30500", 5},
      {slotB, "finished", nullptr, nullptr, nullptr, 30},
  };
  std::vector<nlohmann::ordered_json> written = ReadRecords(records);
  ASSERT_EQ(written.size(), rows.size());
  // The two first units ran at once: either may have been recorded first.
  if (written[0]["slot"] != slotA) {
    std::swap(written[0], written[1]);
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    const nlohmann::ordered_json& record = written[i];
    const std::string name = "record " + std::to_string(i + 1);
    EXPECT_EQ(record["slot"], row.slot) << name;
    EXPECT_TRUE(record["port"].get<std::string>().starts_with("/dev/pts/")) << name;
    EXPECT_EQ(record["outcome"], row.outcome) << name;
    EXPECT_EQ(record["result_code"], row.resultCode) << name;
    EXPECT_EQ(record["device_status"], row.deviceStatus) << name;
    EXPECT_EQ(record["phase"], row.phase) << name;
    EXPECT_EQ(record["blocks_written"], row.blocksWritten) << name;
    EXPECT_EQ(record["controller_version"], "1.00") << name;
    EXPECT_EQ(record["carried_version"], "0213") << name;
    EXPECT_EQ(record["station"], "line-3") << name;
    EXPECT_EQ(record["operator"], "Ann") << name;
    EXPECT_EQ(record["lot"], "L42") << name;
    EXPECT_EQ(record["usb_id"], nullptr) << name;  // a pseudo-terminal has no adapter
    for (const char* time : {"started", "ended"}) {
      const std::string text = record[time];
      EXPECT_EQ(text.size(), 20U) << name << " " << text;  // 2025-03-04T13:05:09Z
      EXPECT_TRUE(text.ends_with("Z")) << name << " " << text;
    }
    EXPECT_LE(record["started"], record["ended"]) << name;
    EXPECT_GT(record["seconds"], 0.0) << name;
    EXPECT_EQ(record["images"][0]["source"], images.main) << name;
    EXPECT_EQ(record["images"][1]["sha256"].get<std::string>().size(), 64U) << name;
    EXPECT_FALSE(record["program_version"].get<std::string>().empty()) << name;
    EXPECT_FALSE(record["program_commit"].get<std::string>().empty()) << name;
    EXPECT_TRUE(std::filesystem::exists(record["trace"].get<std::string>())) << name;
  }
  EXPECT_EQ(written[2]["message"], "0012 : Errors");
}

// A slot behind a serial device server: ser2net on 127.0.0.1 in front of the link each unit makes when it is
// plugged in, the slot named by its rfc2217:// URL. A unit is updated through the server and recorded under the
// URL, tried but not updated again while it stays, seen gone once it is taken out, and the next unit behind the
// same server is updated too.
TEST(StationTest, ASlotBehindADeviceServer) {
  TempDir dir;
  const ImageFiles images(dir, 20, 10);
  const std::string link = dir.Path("controller");
  const Ser2net server(dir, link, true);
  ASSERT_TRUE(server.Ready()) << server.Output();
  const std::string url = "rfc2217://127.0.0.1:" + std::to_string(server.Port());
  const std::string records = dir.Path("line.jsonl");
  FwsimProcess station({"station", "--main", images.main, "--second", images.second, "--records", records, url},
                       CLI_PATH);
  ASSERT_FALSE(station.ReadLine().empty());
  StationOutput output(station);

  auto first = Plug(link, dir.Path("first.log"), {"--expect-main", images.main, "--expect-second", images.second});
  ASSERT_TRUE(output.WaitFor(url, "finished: remove the unit")) << output.Seen() << station.ErrorOutput();
  ASSERT_TRUE(WaitUntil([&] { return CountLinesWith(dir.Path("first.log"), " in id ") >= 3; }));
  EXPECT_EQ(CountLinesWith(dir.Path("first.log"), "cmd=0A:00"), 1);
  EXPECT_NE(Unplug(first).find("memory: main equal, second equal"), std::string::npos);
  ASSERT_TRUE(output.WaitFor(url, "waiting for a unit")) << output.Seen();
  auto second = Plug(link, dir.Path("second.log"), {"--status", "03:20=0012"});
  ASSERT_TRUE(output.WaitFor(url, "failed: 0012 : Errors: remove the unit")) << output.Seen();
  station.Signal(SIGINT);
  EXPECT_EQ(station.Wait(), 130);
  Unplug(second);

  const std::vector<nlohmann::ordered_json> written = ReadRecords(records);
  ASSERT_EQ(written.size(), 2U);
  for (const auto& record : written) {
    EXPECT_EQ(record["slot"], url);
    EXPECT_EQ(record["port"], url);
    EXPECT_EQ(record["usb_id"], nullptr);
  }
  EXPECT_EQ(written[0]["outcome"], "finished");
  EXPECT_EQ(written[1]["outcome"], "device_error");
}

// socket:// slots behind ser2net with its defaults (one session at a time, a new connection dropped while the last
// one closes): each slot's try and update follow each other at once, unit after unit, and every unit finishes, is
// written whole and recorded once, never "ACK receive timeout" for a healthy unit.
TEST(StationTest, SocketSlotsBehindSer2netFinishEveryUnit) {
  constexpr int kSlots = 4;
  constexpr int kUnitsEach = 5;
  TempDir dir;
  const ImageFiles images(dir, 4, 2);
  std::vector<std::string> links;
  std::vector<std::unique_ptr<Ser2net>> servers;
  std::vector<std::string> urls;
  std::vector<std::string> args = {"station",     "--main",    images.main,           "--second",
                                   images.second, "--records", dir.Path("line.jsonl")};
  for (int i = 0; i < kSlots; ++i) {
    links.push_back(dir.Path("controller" + std::to_string(i)));
    servers.push_back(std::make_unique<Ser2net>(dir, links.back(), false));
    ASSERT_TRUE(servers.back()->Ready()) << servers.back()->Output();
    urls.push_back("socket://127.0.0.1:" + std::to_string(servers.back()->Port()));
    args.push_back(urls.back());
  }
  FwsimProcess station(args, CLI_PATH);
  ASSERT_FALSE(station.ReadLine().empty());
  StationOutput output(station);
  for (int round = 0; round < kUnitsEach; ++round) {
    std::vector<std::unique_ptr<FwsimProcess>> units;
    for (int i = 0; i < kSlots; ++i) {
      units.push_back(Plug(links[static_cast<std::size_t>(i)],
                           dir.Path("u" + std::to_string(round) + std::to_string(i) + ".log"),
                           {"--expect-main", images.main, "--expect-second", images.second}));
    }
    ASSERT_TRUE(output.WaitForState(urls, "finished: remove the unit")) << output.Seen() << station.ErrorOutput();
    for (auto& unit : units) {
      EXPECT_NE(Unplug(unit).find("memory: main equal, second equal"), std::string::npos) << round;
    }
    ASSERT_TRUE(output.WaitForState(urls, "waiting for a unit")) << output.Seen();
  }
  station.Signal(SIGINT);
  EXPECT_EQ(station.Wait(), 130);
  const std::vector<nlohmann::ordered_json> written = ReadRecords(dir.Path("line.jsonl"));
  EXPECT_EQ(written.size(), static_cast<std::size_t>(kSlots * kUnitsEach));
  for (const auto& record : written) {
    EXPECT_EQ(record["outcome"], "finished") << record.dump();
  }
}

// A device server restarted while a finished unit stays in its slot: the slot says the server cannot be reached,
// then, with the server back and the unit answering, waits for it to go; it is not updated again.
TEST(StationTest, ADeviceServerRestartedWithAUnitLeftIn) {
  TempDir dir;
  const ImageFiles images(dir, 4, 2);
  const std::string link = dir.Path("controller");
  auto server = std::make_unique<Ser2net>(dir, link, true);
  ASSERT_TRUE(server->Ready()) << server->Output();
  const std::uint16_t port = server->Port();
  const std::string url = "rfc2217://127.0.0.1:" + std::to_string(port);
  const std::string records = dir.Path("line.jsonl");
  FwsimProcess station({"station", "--main", images.main, "--second", images.second, "--records", records, url},
                       CLI_PATH);
  ASSERT_FALSE(station.ReadLine().empty());
  StationOutput output(station);
  auto unit = Plug(link, dir.Path("unit.log"), {});
  ASSERT_TRUE(output.WaitForState({url}, "finished: remove the unit")) << output.Seen() << station.ErrorOutput();
  server->Stop();
  server.reset();
  ASSERT_TRUE(output.WaitFor(url, "finished: remove the unit (no port: Open Err1: connection refused by 127.0.0.1:"))
      << output.Seen();
  server = std::make_unique<Ser2net>(dir, link, true, port);
  ASSERT_TRUE(server->Ready()) << server->Output();
  ASSERT_TRUE(output.WaitForState({url}, "finished: remove the unit")) << output.Seen();
  const int triesBefore = CountLinesWith(dir.Path("unit.log"), " in id ");
  ASSERT_TRUE(WaitUntil([&] { return CountLinesWith(dir.Path("unit.log"), " in id ") >= triesBefore + 3; }));
  EXPECT_EQ(CountLinesWith(dir.Path("unit.log"), "cmd=0A:00"), 1);
  Unplug(unit);
  ASSERT_TRUE(output.WaitForState({url}, "waiting for a unit")) << output.Seen();
  station.Signal(SIGINT);
  EXPECT_EQ(station.Wait(), 130);
  EXPECT_EQ(ReadRecords(records).size(), 1U);
}

// Stopped in the middle of an update: by kill -9, the file holds whole records only, one per line; by Ctrl-C,
// SIGTERM or SIGHUP, the update stops at a block boundary and is recorded as interrupted, the totals count it, and
// the status says which.
TEST(StationTest, StoppedMidUpdateLeavesOnlyWholeRecords) {
  struct Row {
    int signal;
    int status;
    std::vector<std::string> outcomes;
    const char* totals;
  };
  const std::vector<Row> rows = {
      {SIGKILL, 128 + SIGKILL, {"device_error"}, ""},
      {SIGINT, 130, {"device_error", "interrupted"}, "station stopped by SIGINT: 2 units, 0 finished, 2 failed"},
      {SIGTERM, 143, {"device_error", "interrupted"}, "station stopped by SIGTERM: 2 units, 0 finished, 2 failed"},
      {SIGHUP, 129, {"device_error", "interrupted"}, "station stopped by SIGHUP: 2 units, 0 finished, 2 failed"},
  };
  for (const Row& row : rows) {
    TempDir dir;
    const ImageFiles images(dir, 400, 2);
    const std::string slot = dir.Path("slot");
    const std::string records = dir.Path("records.jsonl");
    FwsimProcess station({"station", "--main", images.main, "--second", images.second, "--records", records, slot},
                         CLI_PATH);
    ASSERT_FALSE(station.ReadLine().empty());
    StationOutput output(station);
    auto first = Plug(slot, dir.Path("first.log"), {"--status", "03:20=0012"});
    ASSERT_TRUE(output.WaitFor(slot, "failed: 0012 : Errors")) << output.Seen();
    Unplug(first);
    auto second = Plug(slot, dir.Path("second.log"), {});
    ASSERT_TRUE(WaitUntil([&] { return CountLinesWith(dir.Path("second.log"), "cmd=03:00") >= 3; }));
    station.Signal(row.signal);
    EXPECT_EQ(station.Wait(), row.status) << row.signal;
    EXPECT_NE(station.RestOfOutput().find(row.totals), std::string::npos) << row.signal;

    std::ifstream file(records, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_TRUE(text.str().ends_with("\n")) << row.signal;
    std::istringstream lines(text.str());
    std::vector<std::string> outcomes;
    for (std::string line; std::getline(lines, line);) {
      const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
      ASSERT_TRUE(record.is_object()) << line;
      outcomes.push_back(record["outcome"]);
      if (record["outcome"] == "interrupted") {
        EXPECT_TRUE(record["phase"].get<std::string>().starts_with("block write, main image")) << line;
      }
    }
    EXPECT_EQ(outcomes, row.outcomes) << row.signal;
    Unplug(second);
  }
}

}  // namespace
}  // namespace fwu::test
