#include "trace/watched_port.h"

#include <algorithm>
#include <string_view>

#include "protocol/control_chars.h"

namespace fwu::trace {

namespace {

std::string OpenNote(const std::string& portName, OpenResult result, const std::string& reason) {
  if (result != OpenResult::Ok && !reason.empty()) {
    return "open " + portName + ": " + reason;
  }
  switch (result) {
    case OpenResult::Ok:
      return "open " + portName;
    case OpenResult::OpenFailed:
      return "open " + portName + ": the device could not be opened";
    case OpenResult::ReadSettingsFailed:
      return "open " + portName + ": the line settings could not be read";
    case OpenResult::WriteSettingsFailed:
      return "open " + portName + ": the driver refused 38400 baud 8-N-1";
    case OpenResult::QueueSizeFailed:
      return "open " + portName + ": the driver refused the queue sizes";
  }
  return "open " + portName;
}

}  // namespace

WatchedPort::WatchedPort(SerialPort& inner, TraceSink* trace)
    : inner_(inner),
      trace_(trace),
      sent_(Direction::Sent, [this](const WireEvent& event) { Sent(event); }),
      received_(Direction::Received, [this](const WireEvent& event) { Received(event); }) {
  inner_.SetNotes(this);
}

WatchedPort::~WatchedPort() {
  inner_.SetNotes(nullptr);
  FlushDecoders();
}

OpenResult WatchedPort::Open(const std::string& portName) {
  const OpenResult result = inner_.Open(portName);
  Note(OpenNote(portName, result, result == OpenResult::Ok ? std::string() : inner_.OpenFailureReason()));
  return result;
}

void WatchedPort::Close() {
  FlushDecoders();
  inner_.Close();
  Note("close");
}

std::size_t WatchedPort::Read(std::span<std::uint8_t> into, std::uint32_t waitMs) {
  const std::size_t count = inner_.Read(into, waitMs);
  // The updater is the only reader, so these are all the bytes that came off the line, at the moment they were
  // taken. Without a trace nobody asks for them.
  if (count > 0 && trace_ != nullptr) {
    received_.Push(into.first(count), NowUs());
  }
  return count;
}

WriteOutcome WatchedPort::Write(std::span<const std::uint8_t> bytes) {
  const WriteOutcome outcome = inner_.Write(bytes);
  const std::uint64_t atUs = NowUs();
  const std::size_t taken = outcome.ok ? std::min<std::size_t>(outcome.written, bytes.size()) : 0;
  sent_.Push(bytes.first(taken), atUs);
  if (trace_ != nullptr && taken < bytes.size()) {
    trace_->Note(atUs, "write of " + std::to_string(bytes.size()) + " bytes " +
                           (outcome.ok ? "took only " + std::to_string(taken) : std::string("failed")));
  }
  return outcome;
}

void WatchedPort::Purge() {
  inner_.Purge();
  // Whatever was partly received is gone from the queues, and a new exchange starts: an identification message
  // may follow.
  FlushDecoders();
  sent_.ExpectUnframed();
  Note("purge");
}

LastCommand WatchedPort::Last() const {
  const std::lock_guard lock(mutex_);
  return last_;
}

std::string WatchedPort::Where() const {
  const std::lock_guard lock(mutex_);
  return DescribeWhere(lastSent_, {last_.command, last_.qualifier, last_.address});
}

void WatchedPort::Sent(const WireEvent& event) {
  const bool enquiry = event.kind == EventKind::Frame && event.control == kEnq;
  if (event.kind == EventKind::Identification || enquiry) {
    const std::lock_guard lock(mutex_);
    lastSent_ = LastSent::BootEntry;
  } else if (const auto command = CommandOf(event)) {
    const std::lock_guard lock(mutex_);
    lastSent_ = LastSent::Command;
    last_ = {true, command->command, command->qualifier, command->address};
  }
  if (event.kind == EventKind::Identification) {
    // The boot loader answers the identification message with its unframed reply.
    received_.Flush();
    received_.ExpectUnframed();
  }
  if (trace_ != nullptr) {
    trace_->Event(event);
  }
}

void WatchedPort::Received(const WireEvent& event) {
  if (trace_ != nullptr) {
    trace_->Event(event);
  }
}

void WatchedPort::Note(std::string_view text) {
  if (trace_ != nullptr) {
    trace_->Note(NowUs(), text);
  }
}

void WatchedPort::FlushDecoders() {
  sent_.Flush();
  received_.Flush();
}

std::uint64_t WatchedPort::NowUs() const {
  const auto elapsed = std::chrono::steady_clock::now() - start_;
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
}

}  // namespace fwu::trace
