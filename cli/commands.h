#pragma once

#include <optional>
#include <string>
#include <vector>

#include "port_names/port_name.h"

namespace fwu::cli {

// Image files for the update in place of the carried images; both or neither.
struct ImageFiles {
  std::string main;
  std::string second;
  [[nodiscard]] bool Given() const { return !main.empty(); }
};

struct UpdateOptions {
  std::vector<std::string> ports;
  ImageFiles images;
  std::string json;   // "" none, "-" standard output
  std::string trace;  // "" none
  std::string db;     // "" none: a libpq CONNINFO, the records stored there at the end
};

// The ports of a command line, checked before anything opens (malformed names, one port given twice); each one
// refused is named on standard error, and then there are none.
std::optional<std::vector<port_names::PortName>> CheckPorts(const std::vector<std::string>& ports);

int RunUpdateCommand(const UpdateOptions& options);
int RunVersionsCommand(const std::vector<std::string>& ports);
int RunInfoCommand(const ImageFiles& files);
int RunPortsCommand();

// --version: the program's version and commit, and the carried firmware's version and images with their SHA-256.
std::string VersionText();

}  // namespace fwu::cli
