#include "cli/summary.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "cli/program_version.h"
#include "cli/progress_line.h"
#include "protocol/hex_text.h"

namespace fwu::cli {

namespace {

constexpr double kHundredths = 100.0;

template <typename Value>
nlohmann::ordered_json OrNull(const std::optional<Value>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json TextOrNull(const std::string& text) {
  return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
}

std::string Padded(std::string text, std::size_t width) {
  text.resize(std::max(width, text.size()), ' ');
  return text;
}

}  // namespace

std::string OutcomeLine(const PortReport& report) {
  std::string line = Printable(report.port) + ": " + Printable(report.verdict.message);
  if (!report.verdict.reason.empty()) {
    line += ": " + Printable(report.verdict.reason);
  }
  if (!report.verdict.where.empty()) {
    line += " (stopped at " + report.verdict.where + ")";
  }
  return line;
}

std::string FinalTable(const std::vector<PortReport>& reports, std::size_t width) {
  constexpr std::size_t kGap = 2;
  const std::string blocksHeader = "blocks";
  std::size_t portWidth = std::string("port").size();
  std::size_t outcomeWidth = std::string("outcome").size();
  std::size_t timeWidth = std::string("time").size();
  for (const auto& report : reports) {
    portWidth = std::max(portWidth, Printable(report.port).size());
    outcomeWidth = std::max(outcomeWidth, std::string(OutcomeName(report.verdict.outcome)).size());
    timeWidth = std::max(timeWidth, ClockText(report.seconds).size());
  }
  const std::size_t rest = kGap + outcomeWidth + kGap + blocksHeader.size() + kGap + timeWidth;
  if (width != 0) {
    constexpr std::size_t kFewestPortColumns = 8;
    portWidth = std::min(portWidth, std::max(kFewestPortColumns, width > rest ? width - rest : 0));
  }
  const auto row = [&](const std::string& port, const std::string& outcome, const std::string& blocks,
                       const std::string& time) {
    return Padded(KeepEnd(port, portWidth), portWidth + kGap) + Padded(outcome, outcomeWidth + kGap) +
           Padded(blocks, blocksHeader.size() + kGap) + time + "\n";
  };
  std::string table = row("port", "outcome", blocksHeader, "time");
  for (const auto& report : reports) {
    table += row(Printable(report.port), OutcomeName(report.verdict.outcome), std::to_string(report.blocksWritten),
                 ClockText(report.seconds));
  }
  return table;
}

int CombinedExitStatus(const std::vector<PortReport>& reports, int stopStatus) {
  for (const auto& report : reports) {
    if (report.verdict.outcome == Outcome::Interrupted) {
      return stopStatus;
    }
    if (const int status = ExitStatus(report.verdict.outcome); status != kExitFinished) {
      return status;
    }
  }
  return kExitFinished;
}

std::string IsoTime(std::chrono::system_clock::time_point moment) {
  using namespace std::chrono;
  const auto day = floor<days>(moment);
  const year_month_day date{day};
  const hh_mm_ss time{floor<seconds>(moment - day)};
  std::array<char, 32> text{};
  static_cast<void>(std::snprintf(text.data(), text.size(), "%04d-%02u-%02uT%02d:%02d:%02dZ",
                                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                                  static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count())));
  return text.data();
}

nlohmann::ordered_json PortRecord(const PortReport& report) {
  const RunVerdict& verdict = report.verdict;
  constexpr int kStatusDigits = 4;   // "0012", as in "0012 : Errors"
  constexpr int kAddressDigits = 5;  // "0x30500", as in "block write, second image, address 0x30500"
  const std::string statusText =
      verdict.deviceStatus ? HexValue(static_cast<std::uint64_t>(*verdict.deviceStatus), kStatusDigits) : "";
  const std::string addressText = verdict.blockAddress ? "0x" + HexValue(*verdict.blockAddress, kAddressDigits) : "";
  nlohmann::ordered_json images = nlohmann::ordered_json::array();
  for (const ImageSource& image : report.images) {
    images.push_back({{"image", image.image}, {"source", image.source}, {"sha256", image.sha256}});
  }
  return {
      {"port", report.port},
      {"outcome", OutcomeName(verdict.outcome)},
      {"message", verdict.message},
      {"reason", TextOrNull(verdict.reason)},
      {"result_code", OrNull(verdict.resultCode)},
      {"device_status", OrNull(verdict.deviceStatus)},
      {"device_status_text", TextOrNull(statusText)},
      {"phase", TextOrNull(verdict.where)},
      {"block_address", OrNull(verdict.blockAddress)},
      {"block_address_text", TextOrNull(addressText)},
      {"blocks_written", report.blocksWritten},
      {"blocks_skipped", report.blocksSkipped},
      {"controller_version", OrNull(report.controllerVersion)},
      {"carried_version", report.carriedVersion},
      {"started", IsoTime(report.startedAt)},
      {"ended", IsoTime(report.endedAt)},
      {"seconds", std::round(report.seconds * kHundredths) / kHundredths},
      {"program_version", ProgramVersion()},
      {"program_commit", ProgramCommit()},
      {"images", images},
  };
}

nlohmann::ordered_json SummaryJson(const std::vector<PortReport>& reports, int exitStatus,
                                   const std::string& stoppedBy) {
  nlohmann::ordered_json ports = nlohmann::ordered_json::array();
  for (const auto& report : reports) {
    ports.push_back(PortRecord(report));
  }
  return {{"ports", ports}, {"stopped_by", TextOrNull(stoppedBy)}, {"exit_status", exitStatus}};
}

std::string JsonText(const nlohmann::ordered_json& json) {
  constexpr int kIndent = 2;
  return json.dump(kIndent, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace fwu::cli
