#pragma once

#include <string>

namespace fwu::cli {

// The program's version ("1.1.0") and the commit it was built from ("76fc6096da54", "unknown"), from the build's
// one version header.
std::string ProgramVersion();
std::string ProgramCommit();

}  // namespace fwu::cli
