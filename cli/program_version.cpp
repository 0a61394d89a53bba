#include "cli/program_version.h"

#include "build_version.h"

namespace fwu::cli {

// Alone in this file: the header changes with every commit, and nothing else needs to be compiled again for it.
std::string ProgramVersion() {
  return FWU_VERSION;
}

std::string ProgramCommit() {
  return FWU_COMMIT;
}

}  // namespace fwu::cli
