#include "support/scripted_port.h"

#include <algorithm>

namespace fwu::test {

OpenResult ScriptedPort::Open(const std::string& portName) {
  openedNames_.push_back(portName);
  open_ = openResult_ == OpenResult::Ok;
  return openResult_;
}

void ScriptedPort::Close() {
  ++closeCalls_;
  open_ = false;
}

bool ScriptedPort::Arrived(const Incoming& in) const {
  // Times compare as a wrapping 32-bit difference, like the code under test does.
  return static_cast<std::int32_t>(clock_.Now() - in.atMs) >= 0;
}

std::size_t ScriptedPort::Read(std::span<std::uint8_t> into, std::uint32_t waitMs) {
  ++readCalls_;
  const std::uint32_t wait = std::min(waitMs, longestWaitMs_);
  if (incoming_.empty() || !Arrived(incoming_.front())) {
    // A byte that arrives before the wait is over ends it; one due at its very end comes too late for it.
    const std::uint32_t until = incoming_.empty() ? wait : incoming_.front().atMs - clock_.Now();
    if (until >= wait) {
      clock_.Advance(wait);
      return 0;
    }
    clock_.Advance(until);
  }
  std::size_t count = 0;
  while (count < into.size() && !incoming_.empty() && Arrived(incoming_.front())) {
    into[count++] = incoming_.front().byte;
    incoming_.pop_front();
  }
  return count;
}

WriteOutcome ScriptedPort::Write(std::span<const std::uint8_t> bytes) {
  ++writeCalls_;
  WriteOutcome outcome{open_, open_ ? static_cast<std::uint32_t>(bytes.size()) : 0U};
  if (const auto scripted = scriptedWrites_.find(writeCalls_); scripted != scriptedWrites_.end()) {
    outcome = scripted->second;
    outcome.written = std::min<std::uint32_t>(outcome.written, static_cast<std::uint32_t>(bytes.size()));
  }
  const auto accepted = bytes.first(outcome.written);
  writes_.push_back({clock_.Now(), {accepted.begin(), accepted.end()}});
  if (responder_ && !accepted.empty()) {
    responder_(*this, accepted);
  }
  return outcome;
}

void ScriptedPort::Purge() {
  purges_.push_back(clock_.Now());
  // Only what has arrived sits in the driver's queue; bytes still on their way are not touched.
  while (!incoming_.empty() && Arrived(incoming_.front())) {
    incoming_.pop_front();
  }
}

void ScriptedPort::Arrive(std::span<const std::uint8_t> bytes, std::uint32_t delayMs) {
  Trickle(bytes, delayMs, 0);
}

void ScriptedPort::Arrive(std::initializer_list<std::uint8_t> bytes, std::uint32_t delayMs) {
  Arrive(std::span<const std::uint8_t>(bytes.begin(), bytes.size()), delayMs);
}

void ScriptedPort::Trickle(std::span<const std::uint8_t> bytes, std::uint32_t delayMs, std::uint32_t gapMs) {
  std::uint32_t at = clock_.Now() + delayMs;
  // A byte never overtakes one scheduled before it.
  if (!incoming_.empty() && static_cast<std::int32_t>(incoming_.back().atMs - at) > 0) {
    at = incoming_.back().atMs;
  }
  for (const std::uint8_t byte : bytes) {
    incoming_.push_back({at, byte});
    at += gapMs;
  }
}

std::vector<std::uint8_t> ScriptedPort::WrittenBytes() const {
  std::vector<std::uint8_t> all;
  for (const auto& w : writes_) {
    all.insert(all.end(), w.bytes.begin(), w.bytes.end());
  }
  return all;
}

}  // namespace fwu::test
