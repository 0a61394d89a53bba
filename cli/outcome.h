#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "update/run_result.h"

namespace fwu::cli {

// Exit statuses of the program.
inline constexpr int kExitFinished = 0;
inline constexpr int kExitInternal = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

int ExitStatus(Outcome outcome);
// The outcome's name in the JSON summary: "finished", "open_failed", ...
const char* OutcomeName(Outcome outcome);

struct RunVerdict {
  Outcome outcome = Outcome::Finished;
  std::string message;  // the dialog's text(s) for the failure, "Finished", or the interruption note
  std::string reason;   // for a port that could not be opened: the system's or the server's reason, with a hint;
                        // for a run that failed after a server closed the connection: that
  std::optional<int> resultCode;
  std::optional<int> deviceStatus;
  std::string where;                          // where the run stopped; empty when it finished
  std::optional<std::uint32_t> blockAddress;  // the block write it stopped at or after
};

inline constexpr char kInterruptedText[] =
    "Interrupted at a block boundary: the controller is partly written; a new update starts from the beginning";
inline constexpr char kInterruptedBeforeWritingText[] =
    "Interrupted before the first write: nothing was written to the controller";

// An update's or a version read's result in the command line's terms. The message is what the dialog showed
// last: the failure's text, "Finished", "Program unknown", or both texts joined by " / " when the program-kind
// query's own failure ended the run.
RunVerdict VerdictOf(const RunResult& result);

}  // namespace fwu::cli
