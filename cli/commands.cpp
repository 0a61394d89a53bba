#include "cli/commands.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

#include "cli/db_command.h"
#include "cli/image_set.h"
#include "cli/line_model.h"
#include "cli/output_files.h"
#include "cli/platform.h"
#include "cli/port_job.h"
#include "cli/program_version.h"
#include "cli/progress_line.h"
#include "cli/screen.h"
#include "cli/stop_signals.h"
#include "cli/summary.h"
#include "firmware_files/firmware_file.h"
#include "firmware_files/sha256.h"
#include "port_names/port_name.h"
#include "record_store/record_id.h"
#include "serial/port_list.h"

namespace fwu::cli {

namespace {

void Print(std::FILE* out, const std::string& text) {
  static_cast<void>(std::fputs(text.c_str(), out));
}

void Fail(const std::string& message) {
  Print(stderr, "fwupdate-cli: " + message + "\n");
}

// The update's files, checked before anything opens: the trace goes to files, and no file the run writes is one
// it reads or writes otherwise.
bool CheckFiles(const UpdateOptions& options, const std::vector<std::string>& tracePaths) {
  if (options.trace == "-") {
    Fail("--trace -: a trace goes to a file (on Linux, /dev/stdout names standard output)");
    return false;
  }
  std::vector<NamedFile> files;
  if (!options.json.empty() && options.json != "-") {
    files.push_back({"--json", options.json, true});
  }
  for (const auto& path : tracePaths) {
    if (!path.empty()) {
      files.push_back({"--trace", path, true});
    }
  }
  if (options.images.Given()) {
    files.push_back({"--main", options.images.main, false});
    files.push_back({"--second", options.images.second, false});
  }
  if (const auto same = SameFile(files)) {
    Fail(*same + ": each file the run writes must be a file of its own");
    return false;
  }
  return true;
}

// Opens every port's trace before any port is opened; false, with the reason on standard error, when one of
// them cannot be created.
bool OpenTraces(const std::vector<std::string>& paths, std::vector<std::unique_ptr<trace::TraceSink>>& traces) {
  for (const auto& path : paths) {
    if (path.empty()) {
      traces.push_back(nullptr);
      continue;
    }
    std::string error;
    traces.push_back(trace::OpenTrace(path, &error));
    if (traces.back() == nullptr) {
      Fail(error);
      return false;
    }
  }
  return true;
}

// Runs every port at once, each on its own thread, with one drawing thread for all of them. False when a trace
// could not be written to the end.
bool RunPorts(const std::vector<std::string>& ports, Task task, const ImageSet& images,
              std::vector<std::unique_ptr<trace::TraceSink>> traces, std::FILE* out, std::vector<PortReport>& reports) {
  const LineModels models(images.Images(), images.CarriedVersion().size());
  std::vector<std::unique_ptr<PortJob>> jobs;
  std::vector<PortJob*> view;
  traces.resize(ports.size());
  for (std::size_t i = 0; i < ports.size(); ++i) {
    jobs.push_back(std::make_unique<PortJob>(ports[i], task, images.Images(), StopFlag(), std::move(traces[i])));
    view.push_back(jobs.back().get());
  }
  Screen screen(out, IsTerminal(out), view, models);
  if (task == Task::Update) {
    screen.Start();
  }
  for (auto& job : jobs) {
    job->Start();
  }
  bool tracesWritten = true;
  const std::vector<ImageSource> sources = images.Sources();
  for (auto& job : jobs) {
    job->Join();
    reports.push_back(job->Report());
    reports.back().images = sources;
    if (std::string error; !job->FinishTrace(&error)) {
      Fail(error);
      tracesWritten = false;
    }
  }
  screen.Stop();
  return tracesWritten;
}

}  // namespace

std::optional<std::vector<port_names::PortName>> CheckPorts(const std::vector<std::string>& ports) {
  port_names::PortNameList list = port_names::CheckPortNames(ports);
  for (const std::string& problem : list.problems) {
    Fail(Printable(problem));
  }
  return list.problems.empty() ? std::optional(std::move(list.names)) : std::nullopt;
}

int RunUpdateCommand(const UpdateOptions& options) {
  const std::vector<std::string> tracePaths = TracePaths(options.ports, options.trace);
  ImageSet images;
  if (!CheckPorts(options.ports) || !CheckFiles(options, tracePaths) || !images.Load(options.images) ||
      (!options.db.empty() && !DatabaseOptionTaken(options.db))) {
    return kExitUsage;
  }
  // With the JSON on standard output, everything for the operator goes to standard error.
  std::FILE* out = options.json == "-" ? stderr : stdout;
  const bool jsonFile = !options.json.empty() && options.json != "-";
  if (std::string reason; jsonFile && !CanReplace(options.json, &reason)) {
    Fail("cannot write the JSON summary to " + options.json + ": " + reason);
    return kExitInternal;
  }
  std::vector<std::unique_ptr<trace::TraceSink>> traces;
  if (!OpenTraces(tracePaths, traces)) {
    return kExitInternal;
  }

  PrepareProcess();
  InstallStopHandlers();
  std::vector<PortReport> reports;
  const bool tracesWritten = RunPorts(options.ports, Task::Update, images, std::move(traces), out, reports);
  // Output that nobody reads any more (a closed pipe, a terminal gone) fails quietly: the run's outcome is in its
  // status and its JSON.
  for (const auto& report : reports) {
    Print(out, OutcomeLine(report) + "\n");
  }
  if (reports.size() > 1) {
    const int columns = IsTerminal(out) ? std::max(1, TerminalColumns(out) - 1) : 0;
    // Two writes: GCC 12 at -O3 takes "literal" + string here for an overlapping copy (MinGW x86_64).
    Print(out, "\n");
    Print(out, FinalTable(reports, static_cast<std::size_t>(columns)));
  }
  int status = CombinedExitStatus(reports, StopStatus());
  if (!tracesWritten && status == kExitFinished) {
    status = kExitInternal;
  }
  if (!options.json.empty()) {
    const std::string json = JsonText(SummaryJson(reports, status, StopCause()));
    std::string reason;
    const bool written = jsonFile ? ReplaceFile(options.json, json, &reason)
                                  : std::fputs(json.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
    if (!written) {
      Fail("cannot write the JSON summary to " + (jsonFile ? options.json : std::string("standard output")) +
           (reason.empty() ? std::string() : ": " + reason));
      status = status == kExitFinished ? kExitInternal : status;
    }
  }
  // The records go to the database at the end, each with an id of its own, as a station's do.
  if (!options.db.empty()) {
    std::vector<std::string> records;
    for (const auto& report : reports) {
      nlohmann::ordered_json record{{"record_id", record_store::NewRecordId()}};
      record.update(PortRecord(report));
      records.push_back(record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
    }
    if (!StoreUpdateRecords(options.db, records)) {
      status = status == kExitFinished ? kExitInternal : status;
    }
  }
  static_cast<void>(std::fflush(out));
  return status;
}

int RunVersionsCommand(const std::vector<std::string>& ports) {
  if (!CheckPorts(ports)) {
    return kExitUsage;
  }
  ImageSet images;
  images.Load({});
  PrepareProcess();
  InstallStopHandlers();
  std::vector<PortReport> reports;
  RunPorts(ports, Task::ReadVersions, images, {}, stdout, reports);
  for (const auto& report : reports) {
    if (report.verdict.outcome == Outcome::Finished) {
      // The version display's two lines, side by side.
      const auto lineBreak = report.versionDisplay.find("\r\n");
      Print(stdout, Printable(report.port) + ": " + Printable(report.versionDisplay.substr(0, lineBreak)) + "   " +
                        Printable(report.versionDisplay.substr(lineBreak + 2)) + "\n");
    } else {
      Print(stdout, OutcomeLine(report) + "\n");
    }
  }
  return CombinedExitStatus(reports, StopStatus());
}

int RunInfoCommand(const ImageFiles& files) {
  ImageSet images;
  if (!images.Load(files)) {
    return kExitUsage;
  }
  const FirmwareImages& pair = images.Images();
  const auto text = [&](std::uint32_t pointer) { return Printable(ImageText(pair.main, pointer).value_or("")); };
  std::string report =
      "model:          " + text(kModelNamePointer) + "\nversion:        " + text(kVersionPointer) + "\n";
  const LineModels models(pair, images.CarriedVersion().size());
  const auto blocks = [](std::span<const std::uint8_t> image) {
    const std::string digest = firmware_files::Sha256Hex(image);
    std::uint32_t sent = 0;
    const auto count = static_cast<std::uint32_t>(image.size() / 256);
    for (std::uint32_t k = 0; k < count; ++k) {
      sent += IsSentBlock(image, k) ? 1U : 0U;
    }
    return std::to_string(image.size()) + " bytes, " + std::to_string(sent) + " of " + std::to_string(count) +
           " blocks to write\n  SHA-256:      " + (digest.empty() ? std::string("unavailable") : digest) + "\n";
  };
  report += "main image:     " + blocks(pair.main);
  report += "second image:   " + blocks(pair.second);
  const auto floor = [](const char* name, const LineModel& model) {
    std::array<char, 160> line{};
    static_cast<void>(std::snprintf(
        line.data(), line.size(), "%s %u blocks, %llu bytes to the controller, %llu from it, at least %.1f s (%s)\n",
        name, model.SentBlocks(), static_cast<unsigned long long>(model.BytesToController()),
        static_cast<unsigned long long>(model.BytesFromController()), model.TotalSeconds(),
        ClockText(model.TotalSeconds()).c_str()));
    return std::string(line.data());
  };
  report += "\nUpdate time the 38400-baud line allows, by the controller's program kind:\n";
  report += floor("  0x10 (second image, then main):", models.twoImages);
  report += floor("  0x20 (main image only):        ", models.mainOnly);
  Print(stdout, report);
  return kExitFinished;
}

std::string VersionText() {
  const FirmwareImages carried = CarriedImages();
  const auto text = [&](std::uint32_t pointer) { return Printable(ImageText(carried.main, pointer).value_or("")); };
  return "fwupdate-cli " + ProgramVersion() + " (commit " + ProgramCommit() + ")\n" +
         "carried firmware: " + text(kModelNamePointer) + ", version " + text(kVersionPointer) + "\n" +
         "  main image:   " + std::to_string(carried.main.size()) + " bytes, SHA-256 " +
         firmware_files::Sha256Hex(carried.main) + "\n" + "  second image: " + std::to_string(carried.second.size()) +
         " bytes, SHA-256 " + firmware_files::Sha256Hex(carried.second) + "\n";
}

int RunPortsCommand() {
  const std::vector<PortInfo> ports = ListPorts();
  if (ports.empty()) {
    Print(stderr, "no serial ports found\n");
  }
  for (const PortInfo& port : ports) {
    Print(stdout, Printable(PortLine(port)) + "\n");
  }
  return kExitFinished;
}

}  // namespace fwu::cli
