#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/port_job.h"

namespace fwu::cli {

// "PORT: <the dialog's text>" and, when the run stopped short, where: "(stopped at ...)".
std::string OutcomeLine(const PortReport& report);

// The table at the end of a run on several ports: port, outcome, blocks written, time.
std::string FinalTable(const std::vector<PortReport>& reports);

// The first failing port's status, in the order the ports were given; 0 when every port finished.
int CombinedExitStatus(const std::vector<PortReport>& reports);

// One port's record: outcome, the dialog's message, result code, device status, where it stopped, blocks,
// versions, seconds.
nlohmann::ordered_json PortRecord(const PortReport& report);

// {"ports": [record, ...], "exit_status": N}
nlohmann::ordered_json SummaryJson(const std::vector<PortReport>& reports, int exitStatus);

// The JSON as text; bytes that are not UTF-8 (a controller's version text) are replaced, never a failure.
std::string JsonText(const nlohmann::ordered_json& json);

}  // namespace fwu::cli
