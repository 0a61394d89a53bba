#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/port_job.h"

namespace fwu::cli {

// "PORT: <the dialog's text>", the system's reason when the port could not be opened ("PORT: Open Err1: no such
// device") and, when the run stopped short, where: "(stopped at ...)".
std::string OutcomeLine(const PortReport& report);

// The table at the end of a run on several ports: port, outcome, blocks written, time. With a width (a terminal's
// columns), long port names give up their beginning so that no line wraps; 0 leaves them whole.
std::string FinalTable(const std::vector<PortReport>& reports, std::size_t width = 0);

// The first failing port's status, in the order the ports were given; 0 when every port finished. A port stopped
// on request gives stopStatus: 130 for Ctrl-C, 143 for SIGTERM, 129 for SIGHUP.
int CombinedExitStatus(const std::vector<PortReport>& reports, int stopStatus = kExitInterrupted);

// One port's record: outcome, the dialog's message, codes and where the run stopped (as numbers and as the texts
// show them), blocks, versions, times (ISO 8601, UTC), the program's version and the images written with. The
// production station's per-unit records are built on it.
nlohmann::ordered_json PortRecord(const PortReport& report);

// {"ports": [record, ...], "stopped_by": "SIGTERM" or null, "exit_status": N}
nlohmann::ordered_json SummaryJson(const std::vector<PortReport>& reports, int exitStatus,
                                   const std::string& stoppedBy);

// A moment as ISO 8601 in UTC, to the second: "2025-03-14T09:26:53Z".
std::string IsoTime(std::chrono::system_clock::time_point moment);

// The JSON as text; bytes that are not UTF-8 (a controller's version text) are replaced, never a failure.
std::string JsonText(const nlohmann::ordered_json& json);

}  // namespace fwu::cli
