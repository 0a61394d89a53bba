#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace fwu::cli {

// The drawing thread of a screen: calls draw at most ten times a second until stopped, and once more at the end
// so that the last state stays on the screen.
class RedrawThread {
 public:
  explicit RedrawThread(std::function<void()> draw) : draw_(std::move(draw)) {}
  RedrawThread(const RedrawThread&) = delete;
  RedrawThread& operator=(const RedrawThread&) = delete;
  ~RedrawThread() { Stop(); }

  void Start();
  // Draws the last time and ends the thread; nothing when it was never started.
  void Stop();

 private:
  void Loop();

  std::function<void()> draw_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace fwu::cli
