#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fwu::cli {

// How the run on one port ended, by the operation that ended it.
enum class Outcome {
  Finished,
  OpenFailed,      // "Open Err1" .. "Open Err5", or "Open Err10" for a port found closed
  NoBootLoader,    // boot-mode entry: "ACK receive timeout", "Receive except ACK"
  ProgramUnknown,  // the program-kind answer was not one the update knows
  DeviceError,     // "%04X : Errors"
  LinkFailure,     // "%8d : <message>": time-out, retry, CRC, overrun
  Interrupted,     // stopped at a block boundary on the operator's Ctrl-C
  Internal,        // the run ended without saying why; never expected
};

// Exit statuses of the program.
inline constexpr int kExitFinished = 0;
inline constexpr int kExitInternal = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

int ExitStatus(Outcome outcome);
// The outcome's name in the JSON summary: "finished", "open_failed", ...
const char* OutcomeName(Outcome outcome);

// A message box the core showed, with where the run was on the line when it came up.
struct Box {
  std::string text;
  std::string where;
};

struct RunVerdict {
  Outcome outcome = Outcome::Internal;
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

// Where a run ended on a stop request, and whether that was before its first writing command.
struct StopPoint {
  std::string where;
  bool beforeWriting = false;
};

// Judges a run from the boxes it showed, in order, and where it stopped if it ended on a stop request. A run ends
// at its last box; earlier boxes (a version read that failed inside the update) did not end it. A failed
// program-kind query shows its own failure, then "Program unknown": the failure decides.
RunVerdict Judge(const std::vector<Box>& boxes, const std::optional<StopPoint>& stop);

}  // namespace fwu::cli
