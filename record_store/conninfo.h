#pragma once

#include <string>

namespace fwu::record_store {

// Why a --db CONNINFO (a libpq URI or key=value string) is refused before any connection, or "" when it is taken.
// A password in it is refused: the command line is readable by every user of the machine. The reason never
// repeats a secret.
std::string ConnInfoFault(const std::string& conninfo);

}  // namespace fwu::record_store
