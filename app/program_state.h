#pragma once

#include "app/progress.h"
#include "serial/link.h"

namespace fwu {

// Everything the program keeps for the whole run, owned by the program's entry point: the port (open or not) and
// the clock the link's time limits run on, the counters of the progress display, and the busy flag that keeps the
// window open while an update writes the controller.
struct ProgramState {
  Link link;
  Progress progress;
  bool busy = false;
};

}  // namespace fwu
