#include "cli/summary.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "cli/progress_line.h"

namespace fwu::cli {

namespace {

constexpr double kHundredths = 100.0;

template <typename Value>
nlohmann::ordered_json OrNull(const std::optional<Value>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
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

std::string FinalTable(const std::vector<PortReport>& reports) {
  std::size_t portWidth = std::string("port").size();
  for (const auto& report : reports) {
    portWidth = std::max(portWidth, Printable(report.port).size());
  }
  constexpr std::size_t kOutcomeWidth = 16;
  constexpr std::size_t kBlocksWidth = 16;
  std::string table = Padded("port", portWidth + 2) + Padded("outcome", kOutcomeWidth) +
                      Padded("blocks written", kBlocksWidth) + "time\n";
  for (const auto& report : reports) {
    table += Padded(Printable(report.port), portWidth + 2) +
             Padded(OutcomeName(report.verdict.outcome), kOutcomeWidth) +
             Padded(std::to_string(report.blocksWritten), kBlocksWidth) + ClockText(report.seconds) + "\n";
  }
  return table;
}

int CombinedExitStatus(const std::vector<PortReport>& reports) {
  for (const auto& report : reports) {
    if (const int status = ExitStatus(report.verdict.outcome); status != kExitFinished) {
      return status;
    }
  }
  return kExitFinished;
}

nlohmann::ordered_json SummaryJson(const std::vector<PortReport>& reports, int exitStatus) {
  nlohmann::ordered_json ports = nlohmann::ordered_json::array();
  for (const auto& report : reports) {
    const RunVerdict& verdict = report.verdict;
    ports.push_back({
        {"port", report.port},
        {"outcome", OutcomeName(verdict.outcome)},
        {"message", verdict.message},
        {"reason", verdict.reason.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(verdict.reason)},
        {"result_code", OrNull(verdict.resultCode)},
        {"device_status", OrNull(verdict.deviceStatus)},
        {"phase", verdict.where.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(verdict.where)},
        {"block_address", OrNull(verdict.blockAddress)},
        {"blocks_written", report.blocksWritten},
        {"blocks_skipped", report.blocksSkipped},
        {"controller_version", OrNull(report.controllerVersion)},
        {"carried_version", report.carriedVersion},
        {"seconds", std::round(report.seconds * kHundredths) / kHundredths},
    });
  }
  return {{"ports", ports}, {"exit_status", exitStatus}};
}

std::string JsonText(const nlohmann::ordered_json& json) {
  constexpr int kIndent = 2;
  return json.dump(kIndent, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace fwu::cli
