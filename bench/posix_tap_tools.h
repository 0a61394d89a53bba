#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

// What the benchmark's taps (fwu_line_tap, fwu_tcp_tap) share: their exit statuses, their clock, their way of
// ending on a signal and of leaving their log behind.
namespace fwu::bench {

inline constexpr int kExitOk = 0;
inline constexpr int kExitBadArguments = 2;
inline constexpr int kExitSystem = 3;
inline constexpr std::uint64_t kNsPerSecond = 1'000'000'000;

// Nanoseconds on CLOCK_MONOTONIC, the clock of every log line.
std::uint64_t NowNs();

// "step: <the system's words for errno>".
std::string Failed(const std::string& step);

// Blocks SIGINT and SIGTERM and sets fd to a descriptor on which they arrive as readable data, so that a tap's
// loop ends where it can still write its log. The reason when that failed.
std::string WatchStopSignals(int& fd);

// Writes the log to path and ends the run: kExitOk, or kExitSystem with the log's failure or problem (the run's
// own, empty when there was none) on standard error, under the tool's name.
int FinishTap(std::string_view tool, const std::string& path, const std::function<bool(std::FILE*)>& writeLog,
              const std::string& problem);

}  // namespace fwu::bench
