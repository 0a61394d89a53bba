#include "cli/redraw_thread.h"

#include <chrono>

namespace fwu::cli {

namespace {

// Ten redraws a second: smooth enough for a bar, and nothing the processor notices.
constexpr std::chrono::milliseconds kRedrawPeriod{100};

}  // namespace

void RedrawThread::Start() {
  thread_ = std::thread([this] { Loop(); });
}

void RedrawThread::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) {
    thread_.join();
  }
}

void RedrawThread::Loop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    draw_();
    wake_.wait_for(lock, kRedrawPeriod, [this] { return stopping_; });
  }
  draw_();
}

}  // namespace fwu::cli
