#include "station/slot_cycle.h"

#include <algorithm>

namespace fwu::station {

namespace {

// A stop is seen within this long while the slot waits.
constexpr std::uint32_t kStopCheckMs = 250;

}  // namespace

std::string UnitsText(std::uint64_t count) {
  return std::to_string(count) + (count == 1 ? " unit" : " units");
}

void SlotCycle::Run() {
  while (!stop_.load()) {
    const std::string device = WaitForUnit();
    if (device.empty()) {
      return;
    }
    if (limits_.serverStays && !Pause(limits_.serverSettleMs)) {
      return;
    }
    Set(SlotState::Updating, {}, device);
    const UnitResult unit = UpdateUnit(device);
    if (seams_.hold) {
      seams_.hold(device);
    }
    // The record is on the disk before the slot shows the result: the operator never sees a unit done that the
    // records do not have.
    if (std::string error; !seams_.record(unit.record, error)) {
      {
        const std::lock_guard lock(mutex_);
        ++(unit.finished ? status_.finished : status_.failed);
        ++status_.notRecorded;
      }
      Set(SlotState::Stopped, kRecordNotWritten + error, device);
      return;
    }
    if (!Conclude(unit, device)) {
      return;
    }
    WaitForRemoval(device);
  }
}

UnitResult SlotCycle::UpdateUnit(const std::string& device) {
  UnitResult unit = seams_.update(device);
  for (std::uint32_t retry = 0; limits_.serverStays && unit.untouched && !unit.interrupted &&
                                retry < limits_.untouchedRetries && Pause(limits_.tryPeriodMs);
       ++retry) {
    unit = seams_.update(device);
  }
  return unit;
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
    Set(SlotState::Stopped, UnitsText(inRow) + " failed in a row (the last: " + unit.message + "): check the fixture");
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
    const ProbeResult found = seams_.probe(device, false);
    if (found.presence == Presence::Answering) {
      return stop_.load() ? std::string() : device;
    }
    if (found.presence == Presence::NoPort) {
      Set(SlotState::WaitingForPort, {}, {}, found.problem);
      // A server that cannot be reached is asked again at the pace of the tries, not of a port's poll.
      Pause(limits_.serverStays ? limits_.tryPeriodMs : limits_.portPollMs);
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
    const ProbeResult found = seams_.probe(device, true);
    SetProblem(found.problem);
    switch (found.presence) {
      case Presence::NoPort:
        // A device server that is gone for a while (restarted) took no unit with it: the unit is seen gone when
        // the server answers again and the unit does not.
        if (limits_.serverStays) {
          silentTries = 0;
          break;
        }
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

void SlotCycle::Set(SlotState state, std::string message, std::string device, std::string problem) {
  SlotStatus copy;
  {
    const std::lock_guard lock(mutex_);
    if (status_.state == state && status_.message == message && status_.device == device &&
        status_.problem == problem) {
      return;
    }
    status_.state = state;
    status_.message = std::move(message);
    status_.device = std::move(device);
    status_.problem = std::move(problem);
    copy = status_;
  }
  if (seams_.changed) {
    seams_.changed(copy);
  }
}

void SlotCycle::SetProblem(std::string problem) {
  const SlotStatus now = Status();
  Set(now.state, now.message, now.device, std::move(problem));
}

SlotStatus SlotCycle::Status() const {
  const std::lock_guard lock(mutex_);
  return status_;
}

std::string StateText(const SlotStatus& status) {
  const std::string noPort = status.problem.empty() ? "no port" : "no port: " + status.problem;
  const std::string serverAway = status.problem.empty() ? std::string() : " (" + noPort + ")";
  switch (status.state) {
    case SlotState::WaitingForPort:
      return "waiting for a unit (" + noPort + ")";
    case SlotState::WaitingForUnit:
      return "waiting for a unit";
    case SlotState::Updating:
      return "updating";
    case SlotState::Finished:
      return "finished: remove the unit" + serverAway;
    case SlotState::Failed:
      return "failed: " + status.message + ": remove the unit" + serverAway;
    case SlotState::Interrupted:
      return status.message;  // the interruption note says it all
    case SlotState::Stopped:
      return "stopped: " + status.message;
  }
  return {};
}

}  // namespace fwu::station
