#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "serial/clock.h"
#include "station/probe.h"

namespace fwu::station {

enum class SlotState {
  WaitingForPort,  // the slot's port is not there
  WaitingForUnit,  // the port is there, and no controller answers yet
  Updating,
  Finished,     // the unit is updated and recorded, and still in its slot
  Failed,       // the unit failed and is recorded, and still in its slot
  Interrupted,  // the station was stopped during the unit's update; recorded as such
  Stopped,      // the slot does no more units: too many failures in a row, or its record could not be written
};

struct SlotStatus {
  SlotState state = SlotState::WaitingForPort;
  std::string message;  // Failed: the dialog's text; Stopped: why
  std::string problem;  // why the port did not open at the last try ("Open Err1: connection refused by ..."); empty
                        // when it did
  std::string device;   // the port the unit is on, while there is one
  std::uint32_t finished = 0;
  std::uint32_t failed = 0;
  std::uint32_t failuresInRow = 0;
  std::uint32_t notRecorded = 0;  // units updated whose record could not be written (counted above too)
};

// What one unit's update came to.
struct UnitResult {
  bool finished = false;
  bool interrupted = false;  // stopped at a block boundary because the station is stopping
  std::string message;       // the dialog's text: "Finished", "0012 : Errors", ...
  std::string record;        // the unit's record: one JSON object on one line
  // Nothing was written to the controller: the port did not open or the boot-mode entry failed. Behind a device
  // server such a run is tried again (the server may still be closing the try's connection), never recorded twice.
  bool untouched = false;
};

// What the cycle asks of the world around it, so that it runs the same on real ports and in a test on a virtual
// clock.
struct SlotSeams {
  // The port to try now, resolved (a link followed, a serial number found); empty while there is none.
  std::function<std::string()> locate;
  // One try at the boot-mode entry on that port; with hold, on the port held open since the last such try, and
  // left open (ProbeController).
  std::function<ProbeResult(const std::string& device, bool hold)> probe;
  // The whole update of the unit on that port.
  std::function<UnitResult(const std::string& device)> update;
  // Takes hold of the port again the moment the update has let go of it (HoldPort); may be left empty.
  std::function<void(const std::string& device)> hold;
  // Appends the record and puts it on the disk; false with the reason when it could not.
  std::function<bool(const std::string& record, std::string& error)> record;
  // Told of every new state, for the plain lines of a log; may be left empty.
  std::function<void(const SlotStatus& status)> changed;
};

struct CycleLimits {
  // How often an absent port is looked for: the part of the time from plug-in to the update that it decides.
  std::uint32_t portPollMs = 250;
  // A controller is tried about once a second, while waiting for it and while waiting for it to go.
  std::uint32_t tryPeriodMs = 1000;
  // A unit left in its slot that misses one try (a disturbed line) is not taken for gone; it takes this many
  // silent tries in a row.
  std::uint32_t silentTriesForRemoval = 2;
  // A slot that fails this many units in a row stops; 0 never.
  std::uint32_t maxFailuresInRow = 0;
  // The port is a device server's (rfc2217://, socket://): it stays when a unit is taken out, and a server that
  // cannot be reached for a while (restarted, the network down) took no unit with it.
  bool serverStays = false;
  // Behind a device server, an update that could not reach the controller is run again this many times, a try
  // period apart, before it counts: a server that allows one session at a time may refuse a connection while it
  // is still closing the one before.
  std::uint32_t untouchedRetries = 3;
  // Behind a device server, the pause between the try's connection and the update's: ser2net takes some tens of
  // milliseconds to end a session, and drops a connection made meanwhile.
  std::uint32_t serverSettleMs = 200;
};

// How a slot that could not write a unit's record says so, followed by the reason.
inline constexpr char kRecordNotWritten[] = "the unit's record could not be written: ";

// One slot's cycle, independent of the others: wait for the port, wait for a controller, update it, record it,
// show the result, and wait until the unit is removed (the port goes away or leads elsewhere, or the controller
// stops answering) before the slot may start again. A unit that stays in its slot is never updated twice.
class SlotCycle {
 public:
  SlotCycle(SlotSeams seams, Clock& clock, const std::atomic<bool>& stop, CycleLimits limits)
      : seams_(std::move(seams)), clock_(clock), stop_(stop), limits_(limits) {}

  // Runs until the station stops or the slot gives up.
  void Run();
  [[nodiscard]] SlotStatus Status() const;

 private:
  // The port a controller answers on, or empty when the station stops first.
  std::string WaitForUnit();
  void WaitForRemoval(const std::string& device);
  // Sleeps, waking for the stop; false when the station is stopping.
  bool Pause(std::uint32_t ms);
  void Set(SlotState state, std::string message = {}, std::string device = {}, std::string problem = {});
  // The state as it is, with why the port did not open at the last try (empty: it did).
  void SetProblem(std::string problem);
  // Counts the unit and shows its result; false when the slot is to stop.
  bool Conclude(const UnitResult& unit, const std::string& device);
  // The unit's update, run again behind a device server while it reached nothing.
  UnitResult UpdateUnit(const std::string& device);

  SlotSeams seams_;
  Clock& clock_;
  const std::atomic<bool>& stop_;
  CycleLimits limits_;
  mutable std::mutex mutex_;
  SlotStatus status_;
};

// "1 unit", "2 units".
std::string UnitsText(std::uint64_t count);

// The slot's state in the words of the station's screen: "waiting for a unit", "finished: remove the unit",
// "failed: 0012 : Errors: remove the unit", ... (an update under way is drawn with its progress instead).
std::string StateText(const SlotStatus& status);

}  // namespace fwu::station
