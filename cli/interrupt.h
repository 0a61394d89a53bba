#pragma once

#include <atomic>

namespace fwu::cli {

// Ctrl-C (SIGINT; the console's Ctrl-C and Ctrl-Break events on Windows): the first one sets the flag, and every
// update stops at its next block boundary; a second one ends the program at once with the interrupted status.
void InstallInterruptHandler();
const std::atomic<bool>& InterruptRequested();

}  // namespace fwu::cli
