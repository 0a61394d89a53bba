#pragma once

#include <span>
#include <string>
#include <string_view>

#include "sim/boot_loader.h"

namespace fwu::sim {

// Everything the fwsim server can be told on its command line.
struct ServerOptions {
  BootLoaderConfig loader;
  std::string linkPath;
  bool pace = false;
  std::string logPath;  // "-" is standard error
  std::string loadMain;
  std::string loadSecond;
  std::string dumpMain;
  std::string dumpSecond;
  std::string expectMain;
  std::string expectSecond;
  bool exitAfterUpdate = false;
  bool exitOnClose = false;
  bool help = false;
};

struct ParsedOptions {
  ServerOptions options;
  std::string error;  // empty when the arguments were understood
};

// Parses the arguments after the program name. "--name value" and "--name=value" are both taken.
ParsedOptions ParseServerOptions(std::span<const std::string_view> args);

// The --help text.
std::string ServerUsage();

}  // namespace fwu::sim
