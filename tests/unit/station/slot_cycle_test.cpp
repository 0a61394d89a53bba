#include "station/slot_cycle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "support/virtual_clock.h"

namespace fwu::station {
namespace {

constexpr std::uint32_t kStart = 1000;
constexpr std::uint32_t kAnswerMs = 30;      // a boot-mode entry that is answered
constexpr std::uint32_t kSilentTryMs = 500;  // the boot reply's limit, on a line that gives nothing
constexpr std::uint32_t kUpdateMs = 90'000;

// One unit of a shift: when the operator plugs it in and takes it out, whether it answers, how its update ends.
struct Unit {
  std::uint32_t inMs;
  std::uint32_t outMs;
  bool answers = true;
  bool finishes = true;
};

// A slot of the fixture on the virtual clock. With portWithUnit the port comes and goes with the unit (an adapter
// on the unit's cable); otherwise it stays (an adapter in the fixture) and only the controller comes and goes.
class Fixture {
 public:
  Fixture(std::vector<Unit> units, bool portWithUnit, std::uint32_t endMs)
      : units_(std::move(units)), portWithUnit_(portWithUnit), endMs_(endMs), clock_(kStart) {}

  SlotSeams Seams() {
    SlotSeams seams;
    seams.locate = [this]() -> std::string {
      stop_ = clock_.NowMs() >= endMs_;
      const auto unit = UnitNow();
      if (portWithUnit_ && !unit) {
        return {};
      }
      // A link that leads to another device for each unit, as udev's names for a re-plugged adapter do.
      return portWithUnit_ ? "/dev/ttyUSB" + std::to_string(*unit) : "/dev/ttyS0";
    };
    seams.probe = [this](const std::string& /*device*/, bool /*hold*/) {
      const auto unit = UnitNow();
      if (unit && units_[*unit].answers) {
        clock_.Advance(kAnswerMs);
        return Presence::Answering;
      }
      clock_.Advance(kSilentTryMs);
      return portWithUnit_ && !unit ? Presence::NoPort : Presence::Silent;
    };
    seams.update = [this](const std::string& /*device*/) {
      const auto unit = UnitNow();
      updates.push_back({unit.value_or(-1), clock_.NowMs()});
      clock_.Advance(kUpdateMs);
      UnitResult result;
      result.finished = unit && units_[*unit].finishes;
      result.message = result.finished ? "Finished" : "0012 : Errors";
      result.record = "{\"unit\":" + std::to_string(unit.value_or(-1)) + "}";
      return result;
    };
    seams.record = [this](const std::string& record, std::string& /*error*/) {
      records.push_back(record);
      return true;
    };
    return seams;
  }
  test::VirtualClock& Time() { return clock_; }
  const std::atomic<bool>& Stop() const { return stop_; }

  struct Update {
    int unit;
    std::uint32_t atMs;
  };
  std::vector<Update> updates;
  std::vector<std::string> records;

 private:
  std::optional<int> UnitNow() {
    for (std::size_t i = 0; i < units_.size(); ++i) {
      if (clock_.NowMs() >= units_[i].inMs && clock_.NowMs() < units_[i].outMs) {
        return static_cast<int>(i);
      }
    }
    return std::nullopt;
  }

  std::vector<Unit> units_;
  bool portWithUnit_;
  std::uint32_t endMs_;
  test::VirtualClock clock_;
  std::atomic<bool> stop_{false};
};

// Each unit is updated once, however long it stays; the next one in the slot is; silence is waiting, not a unit;
// and the update starts soon after the unit arrives: within a port poll and a try when the port comes with the
// unit, within a try period and a try when the port stays.
TEST(SlotCycleTest, EveryUnitOnceAndSoonAfterItArrives) {
  struct Row {
    const char* name;
    bool portWithUnit;
    std::vector<Unit> units;
    std::uint32_t maxFailures;
    std::vector<int> updated;  // units, in order
    std::uint32_t latestStartMs;
    SlotState endState;
  };
  const std::uint32_t portLatency = 250 + kAnswerMs;
  const std::uint32_t tryLatency = 1000 + kAnswerMs;
  const std::vector<Row> rows = {
      {"port with the unit: finished, left in, then the next",
       true,
       {{5'000, 400'000}, {410'000, 600'000, true, false}},
       0,
       {0, 1},
       portLatency,
       SlotState::WaitingForPort},
      {"port stays: the controller comes and goes",
       false,
       {{5'000, 200'000}, {203'500, 400'000}},
       0,
       {0, 1},
       tryLatency,
       SlotState::WaitingForUnit},
      {"a silent unit is never updated, and the next one is",
       false,
       {{5'000, 50'000, false}, {60'000, 200'000}},
       0,
       {1},
       tryLatency,
       SlotState::WaitingForUnit},
      {"two failures in a row stop the slot; the third unit waits",
       true,
       {{5'000, 150'000, true, false}, {160'000, 300'000, true, false}, {310'000, 450'000}},
       2,
       {0, 1},
       portLatency,
       SlotState::Stopped},
  };
  for (const Row& row : rows) {
    Fixture fixture(row.units, row.portWithUnit, 700'000);
    CycleLimits limits;
    limits.maxFailuresInRow = row.maxFailures;
    SlotCycle cycle(fixture.Seams(), fixture.Time(), fixture.Stop(), limits);
    cycle.Run();

    ASSERT_EQ(fixture.updates.size(), row.updated.size()) << row.name;
    for (std::size_t i = 0; i < row.updated.size(); ++i) {
      const Fixture::Update& update = fixture.updates[i];
      EXPECT_EQ(update.unit, row.updated[i]) << row.name;
      const std::uint32_t pluggedAt = row.units[static_cast<std::size_t>(update.unit)].inMs;
      EXPECT_LE(update.atMs - pluggedAt, row.latestStartMs) << row.name << ", unit " << update.unit;
      EXPECT_EQ(fixture.records[i], "{\"unit\":" + std::to_string(update.unit) + "}") << row.name;
    }
    const SlotStatus status = cycle.Status();
    EXPECT_EQ(status.state, row.endState) << row.name << ": " << StateText(status);
  }
}

// A unit left in its slot is tried about once a second while it stays, and taken for gone only after two silent
// tries in a row: one disturbed try does not make the same unit look new.
TEST(SlotCycleTest, OneMissedTryIsNoRemoval) {
  const std::vector<Unit> units = {{5'000, 300'000}};
  Fixture fixture(units, false, 400'000);
  SlotSeams seams = fixture.Seams();
  int tries = 0;
  const auto probe = seams.probe;
  seams.probe = [&](const std::string& device, bool hold) -> ProbeResult {
    if (fixture.Time().NowMs() >= 300'000) {
      return probe(device, hold);
    }
    // Every 50th try while the unit is there goes unanswered.
    if (++tries % 50 == 0) {
      fixture.Time().Advance(kSilentTryMs + kSilentTryMs + kAnswerMs);
      return Presence::Silent;
    }
    return probe(device, hold);
  };
  SlotCycle cycle(seams, fixture.Time(), fixture.Stop(), CycleLimits{});
  cycle.Run();
  ASSERT_EQ(fixture.updates.size(), 1U);
  // Tries while the unit stayed: about one a second over the 205 s after its update.
  EXPECT_GT(tries, 180);
  EXPECT_LT(tries, 260);
  EXPECT_EQ(cycle.Status().state, SlotState::WaitingForUnit);
}

// A slot behind a device server: the server away for a while (restarted) with a unit left in is no removal, and
// says why on the slot's line once; a server that refuses the update's connection while it closes the try's is
// tried again, and the unit recorded once; a unit that stops answering while the server answers is gone.
TEST(SlotCycleTest, BehindADeviceServer) {
  constexpr char kRefused[] = "Open Err1: connection refused by 127.0.0.1:4001";
  struct Row {
    const char* name;
    std::uint32_t awayFromMs;  // the server does not take connections from, to
    std::uint32_t awayToMs;
    int untouchedRuns;  // the update's first runs reach nothing (the server drops their connection)
    std::vector<int> updated;
    std::vector<std::string> shown;  // the slot's lines, in order
  };
  const std::vector<Row> rows = {
      {"restarted with the unit left in",
       150'000,
       153'000,
       0,
       {0},
       {"waiting for a unit", "updating", "finished: remove the unit",
        std::string("finished: remove the unit (no port: ") + kRefused + ")", "finished: remove the unit",
        "waiting for a unit"}},
      {"away before the unit came",
       0,
       4'000,
       0,
       {0},
       {std::string("waiting for a unit (no port: ") + kRefused + ")", "waiting for a unit", "updating",
        "finished: remove the unit", "waiting for a unit"}},
      {"the update's connection dropped twice",
       0,
       0,
       2,
       {0, 0, 0},
       {"waiting for a unit", "updating", "finished: remove the unit", "waiting for a unit"}},
  };
  for (const Row& row : rows) {
    Fixture fixture({{5'000, 300'000}}, false, 400'000);
    SlotSeams seams = fixture.Seams();
    const auto probe = seams.probe;
    seams.probe = [&](const std::string& device, bool hold) -> ProbeResult {
      const std::uint32_t now = fixture.Time().NowMs();
      if (now >= row.awayFromMs && now < row.awayToMs) {
        fixture.Time().Advance(1);
        return {Presence::NoPort, kRefused};
      }
      return probe(device, hold);
    };
    const auto update = seams.update;
    int runs = 0;
    seams.update = [&](const std::string& device) {
      UnitResult unit = update(device);
      if (++runs <= row.untouchedRuns) {
        unit.finished = false;
        unit.untouched = true;
        unit.record = "nothing written";
      }
      return unit;
    };
    std::vector<std::string> shown;
    seams.changed = [&](const SlotStatus& status) { shown.push_back(StateText(status)); };
    CycleLimits limits;
    limits.serverStays = true;
    SlotCycle cycle(seams, fixture.Time(), fixture.Stop(), limits);
    cycle.Run();
    ASSERT_EQ(fixture.updates.size(), row.updated.size()) << row.name;
    EXPECT_EQ(fixture.records, std::vector<std::string>{"{\"unit\":0}"}) << row.name;
    EXPECT_EQ(shown, row.shown) << row.name;
  }
}

// The record comes before the result: a record that cannot be written stops the slot and the unit is not shown
// as done.
TEST(SlotCycleTest, ARecordThatCannotBeWrittenStopsTheSlot) {
  Fixture fixture({{5'000, 300'000}, {310'000, 400'000}}, true, 500'000);
  SlotSeams seams = fixture.Seams();
  seams.record = [](const std::string& /*record*/, std::string& error) {
    error = "records.jsonl: No space left on device";
    return false;
  };
  std::vector<SlotState> shown;
  seams.changed = [&](const SlotStatus& status) { shown.push_back(status.state); };
  SlotCycle cycle(seams, fixture.Time(), fixture.Stop(), CycleLimits{});
  cycle.Run();
  EXPECT_EQ(fixture.updates.size(), 1U);
  EXPECT_EQ(StateText(cycle.Status()),
            "stopped: the unit's record could not be written: records.jsonl: No space left on device");
  EXPECT_EQ(std::count(shown.begin(), shown.end(), SlotState::Finished), 0);
}

}  // namespace
}  // namespace fwu::station
