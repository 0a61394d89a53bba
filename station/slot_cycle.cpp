#include "station/slot_cycle.h"

#include <algorithm>

namespace fwu::station {

namespace {

// A stop is seen within this long while the slot waits.
constexpr std::uint32_t kStopCheckMs = 250;

}  // namespace

void SlotCycle::Run() {
  while (!stop_.load()) {
    const std::string device = WaitForUnit();
    if (device.empty()) {
      return;
    }
    Set(SlotState::Updating, {}, device);
    const UnitResult unit = seams_.update(device);
    if (seams_.hold) {
      seams_.hold(device);
    }
    // The record is on the disk before the slot shows the result: the operator never sees a unit done that the
    // records do not have.
    if (std::string error; !seams_.record(unit.record, error)) {
      Set(SlotState::Stopped, kRecordNotWritten + error, device);
      return;
    }
    if (!Conclude(unit, device)) {
      return;
    }
    WaitForRemoval(device);
  }
}

bool SlotCycle::Conclude(const UnitResult& unit, const std::string& device) {
  std::uint32_t inRow = 0;
  {
    const std::lock_guard lock(mutex_);
    ++(unit.finished ? status_.finished : status_.failed);
    status_.failuresInRow = unit.finished ? 0 : status_.failuresInRow + 1;
    inRow = status_.failuresInRow;
  }
  // An interrupted unit counts as failed, as in the records' summary: it is partly written.
  if (unit.interrupted) {
    Set(SlotState::Interrupted, unit.message, device);
    return false;
  }
  if (limits_.maxFailuresInRow != 0 && inRow >= limits_.maxFailuresInRow) {
    Set(SlotState::Stopped,
        std::to_string(inRow) + " units failed in a row (the last: " + unit.message + "): check the fixture");
    return false;
  }
  Set(unit.finished ? SlotState::Finished : SlotState::Failed, unit.finished ? std::string() : unit.message);
  return true;
}

std::string SlotCycle::WaitForUnit() {
  while (!stop_.load()) {
    const std::string device = seams_.locate();
    if (device.empty()) {
      Set(SlotState::WaitingForPort);
      Pause(limits_.portPollMs);
      continue;
    }
    const std::uint32_t tryStart = clock_.NowMs();
    const Presence presence = seams_.probe(device, false);
    if (presence == Presence::Answering) {
      return stop_.load() ? std::string() : device;
    }
    if (presence == Presence::NoPort) {
      Set(SlotState::WaitingForPort);
      Pause(limits_.portPollMs);
      continue;
    }
    Set(SlotState::WaitingForUnit, {}, device);
    const auto spent = static_cast<std::uint32_t>(clock_.NowMs() - tryStart);
    Pause(limits_.tryPeriodMs - std::min(spent, limits_.tryPeriodMs));
  }
  return {};
}

void SlotCycle::WaitForRemoval(const std::string& device) {
  std::uint32_t silentTries = 0;
  std::uint32_t sinceTry = 0;
  while (Pause(limits_.portPollMs)) {
    // A port that is gone, or that now leads to another device, took the unit with it: looked for as often as
    // an absent port, so that the next unit does not wait for the next try.
    if (seams_.locate() != device) {
      Set(SlotState::WaitingForPort);
      return;
    }
    sinceTry += limits_.portPollMs;
    if (sinceTry < limits_.tryPeriodMs) {
      continue;
    }
    sinceTry = 0;
    switch (seams_.probe(device, true)) {
      case Presence::NoPort:
        Set(SlotState::WaitingForPort);
        return;
      case Presence::Silent:
        if (++silentTries >= limits_.silentTriesForRemoval) {
          Set(SlotState::WaitingForUnit, {}, device);
          return;
        }
        break;
      case Presence::Answering:
        silentTries = 0;
        break;
    }
  }
}

bool SlotCycle::Pause(std::uint32_t ms) {
  while (ms > 0 && !stop_.load()) {
    const std::uint32_t step = std::min(ms, kStopCheckMs);
    clock_.SleepMs(step);
    ms -= step;
  }
  return !stop_.load();
}

void SlotCycle::Set(SlotState state, std::string message, std::string device) {
  SlotStatus copy;
  {
    const std::lock_guard lock(mutex_);
    if (status_.state == state && status_.message == message && status_.device == device) {
      return;
    }
    status_.state = state;
    status_.message = std::move(message);
    status_.device = std::move(device);
    copy = status_;
  }
  if (seams_.changed) {
    seams_.changed(copy);
  }
}

SlotStatus SlotCycle::Status() const {
  const std::lock_guard lock(mutex_);
  return status_;
}

std::string StateText(const SlotStatus& status) {
  switch (status.state) {
    case SlotState::WaitingForPort:
      return "waiting for a unit (no port)";
    case SlotState::WaitingForUnit:
      return "waiting for a unit";
    case SlotState::Updating:
      return "updating";
    case SlotState::Finished:
      return "finished: remove the unit";
    case SlotState::Failed:
      return "failed: " + status.message + ": remove the unit";
    case SlotState::Interrupted:
      return status.message;  // the interruption note says it all
    case SlotState::Stopped:
      return "stopped: " + status.message;
  }
  return {};
}

}  // namespace fwu::station
