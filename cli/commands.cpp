#include "cli/commands.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <memory>

#include "cli/interrupt.h"
#include "cli/line_model.h"
#include "cli/platform.h"
#include "cli/port_job.h"
#include "cli/progress_line.h"
#include "cli/screen.h"
#include "cli/summary.h"
#include "firmware_files/firmware_file.h"
#include "firmware_files/sha256.h"
#include "serial/port_list.h"

namespace fwu::cli {

namespace {

void Print(std::FILE* out, const std::string& text) {
  static_cast<void>(std::fputs(text.c_str(), out));
}

// The images an update writes: the carried ones, or the files given, read and checked before any port opens.
class ImageSet {
 public:
  // False, with one message per fault on err, when a file cannot be used.
  bool Load(const ImageFiles& given, std::FILE* err) {
    if (!given.Given()) {
      images_ = CarriedImages();
      return true;
    }
    files::LoadedImage main = files::LoadFirmwareFile(given.main, files::ImageKind::Main);
    files::LoadedImage second = files::LoadFirmwareFile(given.second, files::ImageKind::Second);
    for (const auto* loaded : {&main, &second}) {
      for (const auto& error : loaded->errors) {
        Print(err, "fwupdate-cli: " + error + "\n");
      }
    }
    if (!main.errors.empty() || !second.errors.empty()) {
      return false;
    }
    main_ = std::move(main.bytes);
    second_ = std::move(second.bytes);
    images_ = {main_, second_};
    return true;
  }
  [[nodiscard]] const FirmwareImages& Images() const { return images_; }
  [[nodiscard]] std::string CarriedVersion() const {
    return ImageText(images_.main, kVersionPointer).value_or(std::string());
  }

 private:
  std::vector<std::uint8_t> main_;
  std::vector<std::uint8_t> second_;
  FirmwareImages images_{};
};

// The trace file of one port: the path as given for a single port; with several, the port's name goes in
// before the extension ("trace.txt" and /dev/ttyUSB0 give "trace-ttyUSB0.txt"). A network port keeps its host
// and port ("trace-10_0_0_7_2217.txt"): device servers on one network mostly share their port numbers.
std::string TracePath(const std::string& path, const std::string& port, bool several) {
  if (!several) {
    return path;
  }
  const auto scheme = port.find("://");
  const auto cut = scheme != std::string::npos ? scheme + 2 : port.find_last_of("/\\:");
  std::string name = cut == std::string::npos ? port : port.substr(cut + 1);
  std::ranges::replace_if(
      name, [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; }, '_');
  const auto slash = path.find_last_of("/\\");
  const auto dot = path.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  return hasExtension ? path.substr(0, dot) + "-" + name + path.substr(dot) : path + "-" + name;
}

// Opens every port's trace before any port is opened; false, with the reason on standard error, when one of
// them cannot be created.
bool OpenTraces(const std::vector<std::string>& ports, const std::string& path,
                std::vector<std::unique_ptr<wire::TraceSink>>& traces) {
  for (const auto& port : ports) {
    if (path.empty()) {
      traces.push_back(nullptr);
      continue;
    }
    std::string error;
    traces.push_back(wire::OpenTrace(TracePath(path, port, ports.size() > 1), &error));
    if (traces.back() == nullptr) {
      Print(stderr, "fwupdate-cli: " + error + "\n");
      return false;
    }
  }
  return true;
}

// Runs every port at once, each on its own thread, with one drawing thread for all of them. False when a trace
// could not be written to the end.
bool RunPorts(const std::vector<std::string>& ports, Task task, const ImageSet& images,
              std::vector<std::unique_ptr<wire::TraceSink>> traces, std::FILE* out, std::vector<PortReport>& reports) {
  const LineModels models(images.Images(), images.CarriedVersion().size());
  std::vector<std::unique_ptr<PortJob>> jobs;
  std::vector<PortJob*> view;
  traces.resize(ports.size());
  for (std::size_t i = 0; i < ports.size(); ++i) {
    jobs.push_back(
        std::make_unique<PortJob>(ports[i], task, images.Images(), models, InterruptRequested(), std::move(traces[i])));
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
  for (auto& job : jobs) {
    job->Join();
    reports.push_back(job->Report());
    if (std::string error; !job->FinishTrace(&error)) {
      Print(stderr, "fwupdate-cli: " + error + "\n");
      tracesWritten = false;
    }
  }
  screen.Stop();
  return tracesWritten;
}

}  // namespace

int RunUpdateCommand(const UpdateOptions& options) {
  ImageSet images;
  if (!images.Load(options.images, stderr)) {
    return kExitUsage;
  }
  // With the JSON on standard output, everything for the operator goes to standard error.
  std::FILE* out = options.json == "-" ? stderr : stdout;
  std::unique_ptr<std::ofstream> jsonFile;
  if (!options.json.empty() && options.json != "-") {
    jsonFile = std::make_unique<std::ofstream>(options.json, std::ios::trunc);
    if (!*jsonFile) {
      Print(stderr, "fwupdate-cli: cannot write the JSON summary to " + options.json + "\n");
      return kExitInternal;
    }
  }

  std::vector<std::unique_ptr<wire::TraceSink>> traces;
  if (!OpenTraces(options.ports, options.trace, traces)) {
    return kExitInternal;
  }

  PrepareProcess();
  InstallInterruptHandler();
  std::vector<PortReport> reports;
  const bool tracesWritten = RunPorts(options.ports, Task::Update, images, std::move(traces), out, reports);
  for (const auto& report : reports) {
    Print(out, OutcomeLine(report) + "\n");
  }
  if (reports.size() > 1) {
    Print(out, "\n");
    Print(out, FinalTable(reports));
  }
  int status = CombinedExitStatus(reports);
  if (!tracesWritten && status == kExitFinished) {
    status = kExitInternal;
  }
  if (!options.json.empty()) {
    const std::string json = JsonText(SummaryJson(reports, status));
    if (jsonFile) {
      *jsonFile << json;
      jsonFile->flush();
      if (!*jsonFile) {
        Print(stderr, "fwupdate-cli: cannot write the JSON summary to " + options.json + "\n");
        status = status == kExitFinished ? kExitInternal : status;
      }
    } else {
      Print(stdout, json);
    }
  }
  static_cast<void>(std::fflush(out));
  return status;
}

int RunVersionsCommand(const std::vector<std::string>& ports) {
  ImageSet images;
  images.Load({}, stderr);
  PrepareProcess();
  InstallInterruptHandler();
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
  return CombinedExitStatus(reports);
}

int RunInfoCommand(const ImageFiles& files) {
  ImageSet images;
  if (!images.Load(files, stderr)) {
    return kExitUsage;
  }
  const FirmwareImages& pair = images.Images();
  const auto text = [&](std::uint32_t pointer) { return Printable(ImageText(pair.main, pointer).value_or("")); };
  std::string report =
      "model:          " + text(kModelNamePointer) + "\nversion:        " + text(kVersionPointer) + "\n";
  const LineModels models(pair, images.CarriedVersion().size());
  const auto blocks = [](std::span<const std::uint8_t> image) {
    const std::string digest = files::Sha256Hex(image);
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

int RunPortsCommand() {
  for (const PortInfo& port : ListPorts()) {
    Print(stdout, Printable(PortLine(port)) + "\n");
  }
  return kExitFinished;
}

}  // namespace fwu::cli
