#include "controller_on_pty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "sim/device_memory.h"

namespace fwu::test {

namespace {

constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kStx = 0x02;
constexpr std::size_t kReadChunk = 4096;
// The serving thread looks at its stop flag at least this often.
constexpr int kIdlePollMs = 5;
constexpr double kUsPerMs = 1000.0;

bool IsBlockWrite(const sim::CommandCode& code) {
  return code.command == 0x03 && (code.qualifier == 0x00 || code.qualifier == 0x10);
}

}  // namespace

double SteadyMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

PtyLine::PtyLine() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
  constexpr std::size_t kPathCapacity = 128;
  std::array<char, kPathCapacity> path{};
  if (!master_.IsValid() || grantpt(master_.Get()) != 0 || unlockpt(master_.Get()) != 0 ||
      ptsname_r(master_.Get(), path.data(), path.size()) != 0 ||
      fcntl(master_.Get(), F_SETFL, fcntl(master_.Get(), F_GETFL) | O_NONBLOCK) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  slavePath_ = path.data();
  heldSlave_.Reset(open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  termios settings{};
  if (!heldSlave_.IsValid() || tcgetattr(heldSlave_.Get(), &settings) != 0) {
    throw std::runtime_error("the pseudo-terminal's slave does not open");
  }
  // Raw from the start, so that nothing is echoed or translated before the updater sets the line up itself.
  cfmakeraw(&settings);
  if (tcsetattr(heldSlave_.Get(), TCSANOW, &settings) != 0) {
    throw std::runtime_error("the pseudo-terminal cannot be made raw");
  }
}

void PtyLine::Pull() {
  master_.Reset();
  heldSlave_.Reset();
}

Delivery Unchanged(const Outgoing& out) {
  return {out.bytes};
}

ControllerOnPty::ControllerOnPty(PtyLine& line, sim::BootLoaderConfig config, LineFault fault, const Memory* startFrom)
    : line_(line), loader_(std::move(config)), fault_(std::move(fault)), startMs_(SteadyMs()) {
  if (startFrom != nullptr) {
    loader_.Memory().Load(sim::DeviceMemory::Region::Main, startFrom->main);
    loader_.Memory().Load(sim::DeviceMemory::Region::Second, startFrom->second);
  }
  thread_ = std::thread([this] { Serve(); });
}

ControllerOnPty::~ControllerOnPty() {
  Stop();
}

void ControllerOnPty::Stop() {
  stop_ = true;
  if (thread_.joinable()) {
    thread_.join();
  }
}

ControllerOnPty::Memory ControllerOnPty::MemoryNow() const {
  const auto& memory = loader_.Memory();
  const auto main = memory.Bytes(sim::DeviceMemory::Region::Main);
  const auto second = memory.Bytes(sim::DeviceMemory::Region::Second);
  return {{main.begin(), main.end()}, {second.begin(), second.end()}};
}

sim::TimeUs ControllerOnPty::NowUs() const {
  return static_cast<sim::TimeUs>(std::llround((SteadyMs() - startMs_) * kUsPerMs));
}

int ControllerOnPty::PollTimeoutMs() const {
  if (queue_.empty()) {
    return kIdlePollMs;
  }
  const double wait = queue_.front().dueMs - SteadyMs();
  return std::clamp(static_cast<int>(std::ceil(wait)), 0, kIdlePollMs);
}

void ControllerOnPty::Serve() {
  while (!stop_ && !line_.Pulled()) {
    SendDue();
    if (line_.Pulled()) {
      return;
    }
    // Output that is due but did not fit waits for room rather than being retried at once.
    const bool blocked = !queue_.empty() && queue_.front().dueMs <= SteadyMs();
    pollfd watch{line_.Master(), static_cast<short>(blocked ? POLLIN | POLLOUT : POLLIN), 0};
    if (poll(&watch, 1, blocked ? kIdlePollMs : PollTimeoutMs()) > 0 && (watch.revents & POLLIN) != 0) {
      TakeInput();
    }
  }
}

void ControllerOnPty::TakeInput() {
  std::array<std::uint8_t, kReadChunk> buffer{};
  const ssize_t got = read(line_.Master(), buffer.data(), buffer.size());
  if (got <= 0) {
    return;
  }
  loader_.Feed(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(got)), NowUs());
  for (const auto& chunk : loader_.TakeOutput()) {
    Schedule(chunk);
  }
}

void ControllerOnPty::Schedule(const sim::OutChunk& chunk) {
  if (muted_) {
    return;
  }
  Outgoing out{chunk.bytes, std::nullopt, {}, 0};
  if (chunk.bytes.size() > 2 && chunk.bytes[0] == kDle && chunk.bytes[1] == kStx) {
    out.control = chunk.bytes[2];
  }
  const auto& commands = loader_.Commands();
  if (!commands.empty()) {
    out.command = commands.back().code;
  }
  out.blockWrites = static_cast<int>(std::count_if(commands.begin(), commands.end(), [](const auto& record) {
    return IsBlockWrite(record.code) && !record.refused;
  }));
  Delivery delivery = fault_(out);
  muted_ = delivery.muteAfter;
  // Output never overtakes output sent before it.
  const double notBefore = startMs_ + static_cast<double>(chunk.notBeforeUs) / kUsPerMs;
  double due = std::max(SteadyMs(), notBefore) + delivery.delayMs;
  if (!queue_.empty()) {
    due = std::max(due, queue_.back().dueMs);
  }
  queue_.push_back({due, std::move(delivery.bytes), false});
  if (delivery.pullCable) {
    queue_.push_back({due + delivery.pullAfterMs, {}, true});
  }
}

void ControllerOnPty::SendDue() {
  while (!queue_.empty() && queue_.front().dueMs <= SteadyMs()) {
    Scheduled& next = queue_.front();
    if (next.pull) {
      line_.Pull();
      queue_.clear();
      return;
    }
    const ssize_t wrote = write(line_.Master(), next.bytes.data(), next.bytes.size());
    if (wrote < 0) {
      return;  // the terminal is full: the rest waits for the updater to read
    }
    next.bytes.erase(next.bytes.begin(), next.bytes.begin() + wrote);
    if (!next.bytes.empty()) {
      return;
    }
    queue_.erase(queue_.begin());
  }
}

}  // namespace fwu::test
