#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "trace/trace.h"

namespace fwu::trace {
namespace {

std::string Content(const std::filesystem::path& path) {
  std::ifstream file(path);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A trace is on the disk while the update still runs (read by a person, or left by a run that was killed), not
// only once it ends; and a file that cannot take it says why.
TEST(TraceFile, ReachesTheDiskWhileOpenAndNamesAWriteFailure) {
  const auto path = std::filesystem::temp_directory_path() / "fwu-trace-file-test.txt";
  std::string error;
  auto trace = OpenTrace(path.string(), &error);
  ASSERT_NE(trace, nullptr) << error;
  trace->Note(12, "open COM7");
  bool seen = false;
  for (int polls = 0; polls < 1000 && !seen; ++polls) {
    seen = Content(path).find("        12 -- open COM7\n") != std::string::npos;
    if (!seen) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the condition waited for is the file's content
    }
  }
  EXPECT_TRUE(seen) << Content(path);
  trace->Note(13, "close");
  EXPECT_TRUE(trace->Finish(&error)) << error;
  EXPECT_TRUE(Content(path).ends_with("        13 -- close\n"));
  std::filesystem::remove(path);

  auto full = OpenTrace("/dev/full", &error);
  ASSERT_NE(full, nullptr) << error;
  full->Note(1, "open COM7");
  EXPECT_FALSE(full->Finish(&error));
  EXPECT_EQ(error, "/dev/full: cannot write the trace: No space left on device");
}

}  // namespace
}  // namespace fwu::trace
