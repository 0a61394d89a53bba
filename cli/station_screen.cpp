#include "cli/station_screen.h"

#include <algorithm>
#include <array>

#include "cli/platform.h"
#include "cli/progress_line.h"
#include "cli/summary.h"

namespace fwu::cli {

namespace {

constexpr double kSecondsPerHour = 3600.0;

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string StateOf(const SlotView& view, const LineModels& models) {
  if (view.status.state != station::SlotState::Updating) {
    return Printable(station::StateText(view.status));
  }
  std::string text = "updating";
  if (view.progress && view.progress->totalSteps != 0) {
    const LineModel& model = models.ForKind(view.progress->programKind);
    // Appended piece by piece: GCC 12 at -O3 takes a chain of "literal" + string for an overlapping copy.
    text.append(" ").append(Trimmed(view.progress->percent)).append(" ");
    text.append(ClockText(model.RemainingSeconds(view.progress->stepsDone))).append(" left");
  }
  return text;
}

}  // namespace

std::string StationHeader(const std::string& station, const StationTotals& totals) {
  const double hours = totals.seconds / kSecondsPerHour;
  const std::uint32_t units = totals.finished + totals.failed;
  std::array<char, 32> rate{};
  static_cast<void>(std::snprintf(rate.data(), rate.size(), "%.1f", hours > 0 ? units / hours : 0.0));
  return "station " + Printable(station) + "   finished " + std::to_string(totals.finished) + "   failed " +
         std::to_string(totals.failed) + "   " + rate.data() + " units/hour   up " + ClockText(totals.seconds);
}

std::string SlotLine(const SlotView& view, std::size_t slotWidth, const LineModels& models, std::size_t width) {
  // The state is what the operator acts on: the slot's name gives up its beginning first (by-path names differ
  // at their end), as `update`'s live line does, down to its last few characters; only then is the state cut.
  constexpr std::size_t kNameKept = 8;
  constexpr std::size_t kGap = 2;
  const std::string state = StateOf(view, models);
  const std::size_t room = width > state.size() + kGap ? width - state.size() - kGap : 0;
  std::string line = KeepEnd(Printable(view.slot), std::max(room, kNameKept));
  line.resize(std::max(line.size(), std::min(slotWidth, room)), ' ');
  line += std::string(kGap, ' ') + state;
  if (line.size() > width) {
    line.resize(width);
  }
  return line;
}

StationScreen::StationScreen(std::FILE* out, bool live, std::string station, const LineModels& models,
                             std::function<std::vector<SlotView>()> views)
    : out_(out),
      live_(live),
      station_(std::move(station)),
      models_(models),
      views_(std::move(views)),
      started_(std::chrono::steady_clock::now()) {}

StationScreen::~StationScreen() {
  Stop();
}

void StationScreen::Start() {
  if (live_) {
    redraw_.Start();
  }
}

void StationScreen::Stop() {
  redraw_.Stop();
}

StationTotals StationScreen::Totals() const {
  StationTotals totals;
  for (const SlotView& view : views_()) {
    totals.finished += view.status.finished;
    totals.failed += view.status.failed;
    totals.notRecorded += view.status.notRecorded;
  }
  totals.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  return totals;
}

void StationScreen::Event(const std::string& slot, const station::SlotStatus& status) {
  if (live_) {
    return;
  }
  SlotView view{slot, status, std::nullopt};
  const std::string line =
      IsoTime(std::chrono::system_clock::now()) + "  " + SlotLine(view, 0, models_, SIZE_MAX) + "\n";
  const std::lock_guard lock(eventMutex_);
  static_cast<void>(std::fputs(line.c_str(), out_));
  static_cast<void>(std::fflush(out_));
}

void StationScreen::SetNote(std::function<std::string()> note) {
  const std::lock_guard lock(eventMutex_);
  note_ = std::move(note);
}

void StationScreen::Note(const std::string& text) {
  if (live_ || text.empty()) {
    return;
  }
  const std::string line = IsoTime(std::chrono::system_clock::now()) + "  " + Printable(text) + "\n";
  const std::lock_guard lock(eventMutex_);
  static_cast<void>(std::fputs(line.c_str(), out_));
  static_cast<void>(std::fflush(out_));
}

void StationScreen::Draw() {
  const auto width = static_cast<std::size_t>(std::max(1, TerminalColumns(out_) - 1));
  const std::vector<SlotView> views = views_();
  std::size_t slotWidth = 0;
  for (const SlotView& view : views) {
    slotWidth = std::max(slotWidth, Printable(view.slot).size());
  }
  std::string frame;
  if (linesDrawn_ != 0 && width != lastWidth_) {
    // A terminal that changed its width may have wrapped the lines drawn before anew: counting them back up
    // would land in the middle of them. The screen starts again from its top instead.
    frame += "\033[H\033[2J";
  } else if (linesDrawn_ != 0) {
    frame += "\033[" + std::to_string(linesDrawn_) + "A";  // back to the header
  }
  lastWidth_ = width;
  std::string header = StationHeader(station_, Totals());
  header.resize(std::min(header.size(), width));
  frame += "\r\033[2K" + header + "\n";
  std::function<std::string()> note;
  {
    const std::lock_guard lock(eventMutex_);
    note = note_;
  }
  // Drawn as long as the station runs once it has been shown, so that the slots' lines stay where they are.
  std::string noteLine = note ? Printable(note()) : std::string();
  noteShown_ = noteShown_ || !noteLine.empty();
  if (noteShown_) {
    noteLine.resize(std::min(noteLine.size(), width));
    frame += "\r\033[2K" + noteLine + "\n";
  }
  for (const SlotView& view : views) {
    frame += "\r\033[2K" + SlotLine(view, slotWidth, models_, width) + "\n";
  }
  linesDrawn_ = views.size() + 1 + (noteShown_ ? 1 : 0);
  static_cast<void>(std::fputs(frame.c_str(), out_));
  static_cast<void>(std::fflush(out_));
}

}  // namespace fwu::cli
