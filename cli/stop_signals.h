#pragma once

#include <atomic>
#include <string>

namespace fwu::cli {

// The requests to stop that reach the program from outside: Ctrl-C (SIGINT), SIGTERM (a time-out, a cancelled CI
// job, a service being stopped) and SIGHUP (the terminal or the SSH session gone); on Windows the console's Ctrl-C
// and Ctrl-Break events, taken as SIGINT, and its close, log-off and shut-down events, taken as SIGHUP. The first
// one sets the flag: every update stops at its next block boundary, or before its first write, and the run still
// ends with its outcome lines and its JSON. A second one ends the program at once.
//
// A reader that goes away (`| head -1`, a closed log pipe) no longer ends the program: writing to it simply fails,
// and nothing the ports do depends on their output being read.
void InstallStopHandlers();
// For the station: a second request does not end the program at once either, since a unit cut off mid-update
// would be left without its record; each update still stops at its next block boundary and is recorded as
// interrupted. Only being killed outright ends the station without that.
void FinishBeforeEnding();
const std::atomic<bool>& StopFlag();

// 128 + the number of the signal that asked first (130, 143, 129), or 0 while none has.
int StopStatus();
// What asked: "SIGINT", "SIGTERM", "SIGHUP"; on Windows "Ctrl-C", "Ctrl-Break", "console closed". Empty while
// nothing has.
std::string StopCause();

// Says that the run's results are written and the program ends with status. A closing Windows console gives its
// process a few seconds before it ends it; the handler holds them until this call, so that the JSON and the trace
// are complete. Nothing to do elsewhere.
void RunEnded(int status);

}  // namespace fwu::cli
