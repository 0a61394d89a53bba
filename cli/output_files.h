#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fwu::cli {

// The trace file of each port: the path as given for one port; with several, each port's name goes in before the
// extension ("trace.txt" and /dev/ttyUSB0 give "trace-ttyUSB0.txt"; a network port's host and port go in, so
// rfc2217://10.0.0.7:2217 gives "trace-10_0_0_7_2217.txt"), the whole name where two ports share their last part
// (/dev/a/tty0 and /dev/b/tty0 give "trace-dev_a_tty0.txt" and "trace-dev_b_tty0.txt"), and a number after any
// name still taken, so that no two ports ever write one file.
std::vector<std::string> TracePaths(const std::vector<std::string>& ports, const std::string& path);

// A file that the command line names: the option ("--json", "--trace", "--main"), the path, and whether the run
// writes it.
struct NamedFile {
  std::string option;
  std::string path;
  bool written = false;
};
// The first two of them that are one file while at least one is written, as a message: "--trace and --json both
// name s.json"; nothing when no written file is named twice. Links and "./" spellings are seen through.
std::optional<std::string> SameFile(const std::vector<NamedFile>& files);

// Whether a file can be made beside path to replace it later; false with the system's reason.
bool CanReplace(const std::string& path, std::string* reason);
// Writes text to a file beside path and renames it over path, so that a reader, or a run that ends before this,
// finds the previous file or the new one and never a part of one. A link is followed and stays; a path that is no
// regular file (a device, a pipe) is written directly. False with the system's reason, path left as it was.
bool ReplaceFile(const std::string& path, std::string_view text, std::string* reason);

}  // namespace fwu::cli
