#include "cli/station_command.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/commands.h"
#include "cli/db_command.h"
#include "cli/image_set.h"
#include "cli/line_model.h"
#include "cli/platform.h"
#include "cli/port_job.h"
#include "cli/progress_line.h"
#include "cli/station_screen.h"
#include "cli/stop_signals.h"
#include "cli/summary.h"
#include "network_port/network_url.h"
#include "port_names/open_port.h"
#include "record_store/record_id.h"
#include "station/probe.h"
#include "station/records_file.h"
#include "station/records_query.h"
#include "station/slot_cycle.h"

namespace fwu::cli {

namespace {

void Print(std::FILE* out, const std::string& text) {
  static_cast<void>(std::fputs(text.c_str(), out));
}

// Letters, digits, "-", "_" and "." of a name, the rest as "_", for a file name.
std::string FileNamePart(const std::string& text) {
  std::string name = text;
  std::ranges::replace_if(
      name, [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '-' && c != '.'; }, '_');
  return name.empty() ? std::string("station") : name;
}

// What every record of the run shares: who, where, with what.
struct Shift {
  std::string station;
  std::string operatorName;
  std::string lot;
  std::string traceDir;
};

// The adapter behind a port, as the port list knows it; empty parts where it does not (a pseudo-terminal).
PortInfo AdapterOf(const std::string& device) {
  for (PortInfo& port : ListPorts()) {
    if (port.name == device) {
      return port;
    }
  }
  return {};
}

nlohmann::ordered_json TextOrNull(const std::string& text) {
  return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
}

// One port list for every usb: slot, taken at most once a second: going through the system's ports is the
// costliest thing a waiting slot does, and eight slots each doing it four times a second would cost about 1 % of
// a core.
class SharedPortList {
 public:
  std::vector<PortInfo> Get() {
    const std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (!taken_ || now - takenAt_ >= kRefresh) {
      ports_ = ListPorts();
      takenAt_ = now;
      taken_ = true;
    }
    return ports_;
  }

 private:
  static constexpr std::chrono::seconds kRefresh{1};
  std::mutex mutex_;
  std::vector<PortInfo> ports_;
  std::chrono::steady_clock::time_point takenAt_;
  bool taken_ = false;
};

// One slot of the station: its cycle, its own port and clock for the tries, and the update under way.
struct StationSlot {
  port_names::PortName slot;
  std::unique_ptr<SerialPort> probePort;  // a serial or a network port, as the slot names it
  std::unique_ptr<Clock> clock = NewClock();
  std::unique_ptr<station::SlotCycle> cycle;
  std::mutex mutex;
  std::shared_ptr<PortJob> job;  // while an update runs
  int lastFailure = kExitFinished;
};

class Station {
 public:
  Station(const StationOptions& options, const std::vector<port_names::PortName>& slots, Shift shift,
          const ImageSet& images, station::RecordsFile& records, std::FILE* out)
      : shift_(std::move(shift)),
        images_(images),
        models_(images.Images(), images.CarriedVersion().size()),
        records_(records),
        screen_(out, IsTerminal(out), shift_.station, models_, [this] { return Views(); }) {
    for (const port_names::PortName& slot : slots) {
      slots_.push_back(std::make_unique<StationSlot>());
      slots_.back()->slot = slot;
      slots_.back()->probePort = port_names::NewPort(slot.text);
    }
    station::CycleLimits limits;
    limits.maxFailuresInRow = options.maxFailures;
    for (auto& slot : slots_) {
      limits.serverStays = network_port::IsNetworkPortName(slot->slot.text);
      slot->cycle = std::make_unique<station::SlotCycle>(Seams(*slot), *slot->clock, StopFlag(), limits);
    }
  }

  // Runs every slot until the operator stops the station or every slot has stopped; the exit status.
  int Run() {
    screen_.Start();
    std::vector<std::thread> threads;
    for (auto& slot : slots_) {
      threads.emplace_back([&slot] { slot->cycle->Run(); });
    }
    for (auto& thread : threads) {
      thread.join();
    }
    screen_.Stop();
    return ExitStatusAtEnd();
  }

  [[nodiscard]] StationTotals Totals() const { return screen_.Totals(); }

  // Every record also goes to the database, sent from the records file; the screen tells what waits.
  void SendTo(const std::string& conninfo, const std::string& recordsPath) {
    database_ = StartDatabaseLink(conninfo, recordsPath, [this](const std::string& note) { screen_.Note(note); });
    screen_.SetNote([this] { return database_->Note(); });
  }

 private:
  station::SlotSeams Seams(StationSlot& slot) {
    station::SlotSeams seams;
    seams.locate = [this, &slot] {
      return port_names::Locate(slot.slot, slot.slot.usbSerial.empty() ? std::vector<PortInfo>() : portList_.Get());
    };
    seams.probe = [&slot](const std::string& device, bool hold) {
      return station::ProbeController(*slot.probePort, *slot.clock, device, hold);
    };
    seams.hold = [&slot](const std::string& device) { station::HoldPort(*slot.probePort, device); };
    seams.update = [this, &slot](const std::string& device) { return Update(slot, device); };
    seams.record = [this](const std::string& record, std::string& error) {
      const bool written = records_.Append(record, error);
      if (written && database_) {
        database_->RecordWritten();
      }
      return written;
    };
    seams.changed = [this, &slot](const station::SlotStatus& status) { screen_.Event(slot.slot.text, status); };
    return seams;
  }

  // The whole update of one unit, as `update` runs it on one port, and its record.
  station::UnitResult Update(StationSlot& slot, const std::string& device) {
    const auto started = std::chrono::system_clock::now();
    std::string tracePath;
    std::unique_ptr<trace::TraceSink> trace;
    if (!shift_.traceDir.empty()) {
      tracePath = (std::filesystem::path(shift_.traceDir) /
                   (FileNamePart(slot.slot.text) + "-" + FileNamePart(IsoTime(started)) + ".txt"))
                      .string();
      std::string error;
      trace = trace::OpenTrace(tracePath, &error);
      if (!trace) {
        tracePath = "not written: " + error;
      }
    }
    auto job = std::make_shared<PortJob>(device, Task::Update, images_.Images(), StopFlag(), std::move(trace));
    {
      const std::lock_guard lock(slot.mutex);
      slot.job = job;
    }
    job->Start();
    job->Join();
    if (std::string error; !job->FinishTrace(&error)) {
      tracePath = "not written: " + error;
    }
    PortReport report = job->Report();
    report.images = images_.Sources();
    {
      const std::lock_guard lock(slot.mutex);
      slot.job.reset();
      if (report.verdict.outcome != Outcome::Finished) {
        slot.lastFailure = ExitStatus(report.verdict.outcome);
      }
    }

    station::UnitResult unit;
    unit.finished = report.verdict.outcome == Outcome::Finished;
    unit.interrupted = report.verdict.outcome == Outcome::Interrupted;
    unit.untouched = report.verdict.outcome == Outcome::OpenFailed || report.verdict.outcome == Outcome::NoBootLoader;
    unit.message = Printable(report.verdict.message);
    if (!report.verdict.reason.empty()) {
      unit.message += ": " + Printable(report.verdict.reason);
    }
    // One line: a record is whole or, cut by a crash, a line that readers leave out.
    unit.record =
        Record(slot, report, tracePath).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    return unit;
  }

  // The unit's record: the slot, the adapter and the shift, then the port's record as `update --json` writes it.
  nlohmann::ordered_json Record(const StationSlot& slot, const PortReport& report, const std::string& tracePath) const {
    const PortInfo adapter = AdapterOf(report.port);
    nlohmann::ordered_json record{
        {"record_id", record_store::NewRecordId()},
        {"slot", slot.slot.text},
        {"port", report.port},
        {"usb_id", TextOrNull(adapter.usbId)},
        {"usb_serial", TextOrNull(adapter.serial)},
        {"usb_location", TextOrNull(adapter.location)},
        {"station", shift_.station},
        {"operator", TextOrNull(shift_.operatorName)},
        {"lot", TextOrNull(shift_.lot)},
    };
    const nlohmann::ordered_json port = PortRecord(report);
    for (const auto& [key, value] : port.items()) {
      record[key] = value;
    }
    record["trace"] = TextOrNull(tracePath);
    return record;
  }

  std::vector<SlotView> Views() const {
    std::vector<SlotView> views;
    for (const auto& slot : slots_) {
      SlotView view{slot->slot.text, slot->cycle->Status(), std::nullopt};
      const std::lock_guard lock(slot->mutex);
      if (slot->job) {
        view.progress = slot->job->Progress();
      }
      views.push_back(std::move(view));
    }
    return views;
  }

  int ExitStatusAtEnd() const {
    if (StopFlag().load()) {
      return StopStatus();
    }
    // Every slot stopped by itself: a record that could not be written, or failures in a row.
    for (const auto& slot : slots_) {
      if (slot->cycle->Status().message.starts_with(station::kRecordNotWritten)) {
        return kExitInternal;
      }
    }
    int status = kExitInternal;
    for (const auto& slot : slots_) {
      const std::lock_guard lock(slot->mutex);
      status = slot->lastFailure != kExitFinished ? slot->lastFailure : status;
    }
    return status;
  }

  Shift shift_;
  const ImageSet& images_;
  LineModels models_;
  station::RecordsFile& records_;
  SharedPortList portList_;
  std::vector<std::unique_ptr<StationSlot>> slots_;
  StationScreen screen_;
  std::unique_ptr<DatabaseLink> database_;  // last: it stops sending before the screen goes
};

}  // namespace

int RunStationCommand(const StationOptions& options) {
  const auto slots = CheckPorts(options.slots);
  ImageSet images;
  if (!slots || !images.Load(options.images) || (!options.db.empty() && !DatabaseOptionTaken(options.db))) {
    return kExitUsage;
  }
  Shift shift{options.station.empty() ? HostName() : options.station, options.operatorName, options.lot,
              options.traceDir};
  if (shift.station.empty()) {
    shift.station = "station";
  }
  if (!options.traceDir.empty()) {
    std::error_code error;
    std::filesystem::create_directories(options.traceDir, error);
    if (error) {
      Print(stderr, "fwupdate-cli: cannot make the trace folder " + options.traceDir + ": " + error.message() + "\n");
      return kExitInternal;
    }
  }
  const std::string recordsPath =
      options.records.empty() ? FileNamePart(shift.station) + "-records.jsonl" : options.records;
  station::RecordsFile records;
  if (std::string error; !records.Open(recordsPath, error)) {
    Print(stderr, "fwupdate-cli: cannot write the records file " + error + "\n");
    return kExitInternal;
  }

  PrepareProcess();
  InstallStopHandlers();
  FinishBeforeEnding();
  std::FILE* out = stdout;
  Print(out, "station " + Printable(shift.station) + ": records to " + Printable(recordsPath) +
                 (options.db.empty() ? "" : " and the database") + "; " + std::to_string(slots->size()) +
                 (slots->size() == 1 ? " slot" : " slots") + "; Ctrl-C stops\n");
  static_cast<void>(std::fflush(out));
  Station station(options, *slots, std::move(shift), images, records, out);
  if (!options.db.empty()) {
    station.SendTo(options.db, recordsPath);
  }
  const int status = station.Run();
  const StationTotals totals = station.Totals();
  const std::string cause = StopCause().empty() ? std::string() : " by " + StopCause();
  const std::string unrecorded =
      totals.notRecorded == 0 ? std::string() : " (" + std::to_string(totals.notRecorded) + " not in the records)";
  Print(out, "station stopped" + cause + ": " + station::UnitsText(totals.finished + totals.failed) + ", " +
                 std::to_string(totals.finished) + " finished, " + std::to_string(totals.failed) + " failed" +
                 unrecorded + ", in " + ClockText(totals.seconds) + "\n");
  static_cast<void>(std::fflush(out));
  RunEnded(status);
  return status;
}

int RunRecordsCommand(const RecordsOptions& options) {
  station::RecordFilter filter;
  if (const std::string problem =
          station::MakeFilter(options.since, options.until, options.outcome, options.slot, options.lot, filter);
      !problem.empty()) {
    Print(stderr, "fwupdate-cli: " + problem + "\n");
    return kExitUsage;
  }
  if (!options.db.empty()) {
    return RunRecordsFromDatabase(options, filter);
  }
  if (options.files.empty()) {
    Print(stderr, "fwupdate-cli: records: name the records file(s), or --db CONNINFO\n");
    return kExitUsage;
  }
  const auto format = options.format == "csv"    ? station::RecordsFormat::Csv
                      : options.format == "json" ? station::RecordsFormat::Json
                                                 : station::RecordsFormat::Table;
  station::RecordsReport report(format);
  const station::RecordSink sink{
      [&](nlohmann::ordered_json&& record) {
        if (station::Matches(record, filter)) {
          report.Add(record);
        }
      },
      [](std::string&& warning) { Print(stderr, "fwupdate-cli: warning: " + warning + "\n"); }};
  for (const std::string& file : options.files) {
    if (std::string error; !station::StreamRecordsFile(file, sink, error)) {
      Print(stderr, "fwupdate-cli: cannot read " + error + "\n");
      return kExitUsage;
    }
  }
  report.Write([](std::string_view piece) { static_cast<void>(std::fwrite(piece.data(), 1, piece.size(), stdout)); });
  if (format == station::RecordsFormat::Table) {
    Print(stdout, "\n" + report.Summary());
  } else {
    Print(stderr, report.Summary());
  }
  return kExitFinished;
}

}  // namespace fwu::cli
