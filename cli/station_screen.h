#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/line_model.h"
#include "cli/redraw_thread.h"
#include "cli/run_tracker.h"
#include "station/slot_cycle.h"

namespace fwu::cli {

// One slot as the station's screen shows it.
struct SlotView {
  std::string slot;
  station::SlotStatus status;
  std::optional<PortProgress> progress;  // the update's bar while it runs
};

struct StationTotals {
  std::uint32_t finished = 0;
  std::uint32_t failed = 0;
  double seconds = 0;             // since the station started
  std::uint32_t notRecorded = 0;  // updated (and counted above), but the record could not be written
};

// "station line-3   finished 12   failed 1   37.2 units/hour   up 0:19:21"
std::string StationHeader(const std::string& station, const StationTotals& totals);
// "slot1  updating 43 % 0:31 left", "slot2  finished: remove the unit", at most width characters: a long slot name
// gives up its beginning ("...0:00:14.0-usb-0:2:1.0-port0") before the state gives up anything.
std::string SlotLine(const SlotView& view, std::size_t slotWidth, const LineModels& models, std::size_t width);

// The station's screen. On a terminal, the header and one line per slot, redrawn at most ten times a second;
// otherwise one plain line per event, with its time.
class StationScreen {
 public:
  StationScreen(std::FILE* out, bool live, std::string station, const LineModels& models,
                std::function<std::vector<SlotView>()> views);
  StationScreen(const StationScreen&) = delete;
  StationScreen& operator=(const StationScreen&) = delete;
  ~StationScreen();

  void Start();
  // Draws the last state and ends the drawing thread.
  void Stop();
  // A slot's new state: a plain line when the output is no terminal.
  void Event(const std::string& slot, const station::SlotStatus& status);
  [[nodiscard]] StationTotals Totals() const;
  // A line under the header while it is not empty (what waits for the database).
  void SetNote(std::function<std::string()> note);
  // A plain line with its time when the output is no terminal; the live screen shows SetNote's.
  void Note(const std::string& text);

 private:
  void Draw();

  std::FILE* out_;
  bool live_;
  std::string station_;
  const LineModels& models_;
  std::function<std::vector<SlotView>()> views_;
  std::function<std::string()> note_;
  std::chrono::steady_clock::time_point started_;
  std::size_t linesDrawn_ = 0;
  bool noteShown_ = false;
  std::size_t lastWidth_ = 0;
  std::mutex eventMutex_;  // one plain line at a time
  RedrawThread redraw_{[this] { Draw(); }};
};

}  // namespace fwu::cli
