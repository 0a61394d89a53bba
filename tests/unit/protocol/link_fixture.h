#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <vector>

#include "serial/link.h"
#include "support/recording_window.h"
#include "support/scripted_port.h"
#include "support/virtual_clock.h"
#include "support/wire.h"

namespace fwu::test {

// A boot loader that answers each write call of the host with the next scripted reply, delayMs after the write.
// An empty reply stays silent for that write.
class ScriptedPeer {
 public:
  struct Reply {
    Bytes bytes;
    std::uint32_t delayMs = 0;
    std::uint32_t gapMs = 0;  // between the reply's bytes
  };

  explicit ScriptedPeer(ScriptedPort& port) {
    port.OnWrite([this](ScriptedPort& line, std::span<const std::uint8_t> /*written*/) {
      if (replies_.empty()) {
        return;
      }
      const Reply reply = replies_.front();
      replies_.pop_front();
      if (!reply.bytes.empty()) {
        line.Trickle(reply.bytes, reply.delayMs, reply.gapMs);
      }
    });
  }

  ScriptedPeer& Then(Bytes bytes, std::uint32_t delayMs = 0, std::uint32_t gapMs = 0) {
    replies_.push_back({std::move(bytes), delayMs, gapMs});
    return *this;
  }
  ScriptedPeer& Silent() { return Then({}); }

 private:
  std::deque<Reply> replies_;
};

// A fresh line on its own clock, for table-driven cases that each need one.
struct Line {
  // What has arrived or is on its way and has not been read: in the port, or taken by the link and held.
  [[nodiscard]] std::size_t Unread() const { return port.PendingBytes() + link.reader.Held(); }

  VirtualClock clock{};
  ScriptedPort port{clock};
  Link link{port, clock};
};

// The line, its clock and the dialog, as every protocol test needs them.
class LinkTest : public ::testing::Test {
 protected:
  // The control bytes of the Frames the host wrote, in order.
  [[nodiscard]] Bytes WrittenControls() const {
    Bytes controls;
    for (const auto& frame : ParseFrames(port.WrittenBytes())) {
      EXPECT_TRUE(frame.crcOk);
      controls.push_back(frame.control);
    }
    return controls;
  }
  [[nodiscard]] std::uint32_t Elapsed() { return clock.NowMs() - startMs; }
  // What has arrived or is on its way and has not been read: in the port, or taken by the link and held.
  [[nodiscard]] std::size_t Unread() const { return port.PendingBytes() + link.reader.Held(); }

  VirtualClock clock{};
  std::uint32_t startMs = clock.NowMs();
  ScriptedPort port{clock};
  Link link{port, clock};
  RecordingWindow window;
};

}  // namespace fwu::test
