#pragma once

#include <cstdio>
#include <vector>

#include "cli/line_model.h"
#include "cli/port_job.h"
#include "cli/progress_line.h"
#include "cli/redraw_thread.h"

namespace fwu::cli {

// The one drawing thread. On a terminal it redraws one live line per port at most ten times a second; otherwise
// it writes a plain line for a port each time that port passes another 10 %.
class Screen {
 public:
  Screen(std::FILE* out, bool live, const std::vector<PortJob*>& jobs, const LineModels& models);
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;
  ~Screen();

  void Start();
  // Draws the last state and ends the thread.
  void Stop();

 private:
  void Draw();
  [[nodiscard]] LineState StateOf(const PortJob& job) const;

  std::FILE* out_;
  bool live_;
  std::vector<PortJob*> jobs_;
  const LineModels& models_;
  bool drawnOnce_ = false;
  RedrawThread redraw_{[this] { Draw(); }};
};

}  // namespace fwu::cli
