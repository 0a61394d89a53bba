#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "trace/wire_decoder.h"

namespace fwu::trace {

// The trace of one port: every byte in both directions, grouped into what it is, one line per event, with the
// microseconds since the trace began. Meant to be read by a person and sent back when an update fails.
class TraceSink {
 public:
  TraceSink() = default;
  TraceSink(const TraceSink&) = delete;
  TraceSink& operator=(const TraceSink&) = delete;
  virtual ~TraceSink() = default;

  virtual void Event(const WireEvent& event) = 0;
  // Something the updater did to the line that is no byte on it: open, purge, a failed write, close.
  virtual void Note(std::uint64_t atUs, std::string_view text) = 0;
  // Writes out what is left and closes the file; false (with the reason) when the file did not take everything.
  virtual bool Finish(std::string* error) = 0;
};

// A trace file at path, replaced if it exists, and written at least once a second while it is open. Nothing and a
// reason naming the file when it cannot be created.
std::unique_ptr<TraceSink> OpenTrace(const std::string& path, std::string* error);

// One line of the trace, without its line end:
//   "     12345 -> Frame STX, command 0A 00, program kind query (0A 00), payload 2 bytes, CRC ok | 10 02 02 0A ..."
std::string FormatTraceLine(const WireEvent& event);
std::string FormatTraceNote(std::uint64_t atUs, std::string_view text);

}  // namespace fwu::trace
