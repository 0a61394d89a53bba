#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "serial/clock.h"

namespace fwu::cli {

// The clock of the platform the program runs on (the port a name calls for is port_names/'s NewPort).
std::unique_ptr<Clock> NewClock();

// Readies the process once, before any port is opened: on Windows the 1 ms system timer that the port's
// time-outs rely on and a console that understands the cursor sequences of the progress lines.
void PrepareProcess();

// The machine's name, for a station that is given none; empty when the system does not say.
std::string HostName();

// Whether the stream is a terminal that takes cursor movement, and how many columns it has.
bool IsTerminal(std::FILE* stream);
int TerminalColumns(std::FILE* stream);

}  // namespace fwu::cli
