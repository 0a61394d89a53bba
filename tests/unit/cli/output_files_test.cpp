#include "cli/output_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace fwu::cli {
namespace {

namespace fs = std::filesystem;

std::string Content(const fs::path& path) {
  std::ifstream file(path);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(OutputFilesTest, NoTwoPortsShareATraceFile) {
  struct Case {
    std::vector<std::string> ports;
    std::string path;
    std::vector<std::string> traces;
  };
  const Case cases[] = {
      {{"/dev/ttyUSB0"}, "t.txt", {"t.txt"}},
      {{"/dev/ttyUSB0", "COM3"}, "t.txt", {"t-ttyUSB0.txt", "t-COM3.txt"}},
      {{"/dev/a/tty0", "/dev/b/tty0", "/dev/ttyS1"},
       "out.d/t",
       {"out.d/t-dev_a_tty0", "out.d/t-dev_b_tty0", "out.d/t-ttyS1"}},
      {{"p:1", "p/1"}, "t.txt", {"t-p_1.txt", "t-p_1-2.txt"}},
      {{"rfc2217://10.0.0.7:2217", "socket://[fd00::8]:2217/", "/dev/ttyUSB0"},
       "t.txt",
       {"t-10_0_0_7_2217.txt", "t-fd00__8__2217.txt", "t-ttyUSB0.txt"}},
      {{"a", "b"}, "", {"", ""}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TracePaths(c.ports, c.path), c.traces) << c.ports.front();
  }
}

TEST(OutputFilesTest, AFileWrittenTwiceIsFoundThroughLinksAndAReplacedFileIsWholeOrAsBefore) {
  const fs::path dir = fs::temp_directory_path() / "fwu-output-files-test";
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::ofstream(dir / "s.json") << "previous";
  fs::create_symlink(dir / "s.json", dir / "link.json");
  const std::string json = (dir / "s.json").string();
  const std::string viaLink = (dir / "." / "link.json").string();

  EXPECT_EQ(SameFile({{"--json", json, true}, {"--trace", viaLink, true}}), "--trace and --json both name " + viaLink);
  EXPECT_EQ(SameFile({{"--main", json, false}, {"--second", viaLink, false}}), std::nullopt);
  EXPECT_EQ(SameFile({{"--json", json, true}, {"--trace", (dir / "t.txt").string(), true}}), std::nullopt);

  std::string reason;
  EXPECT_TRUE(CanReplace(viaLink, &reason)) << reason;
  ASSERT_TRUE(ReplaceFile(viaLink, "new", &reason)) << reason;
  EXPECT_TRUE(fs::is_symlink(dir / "link.json"));
  EXPECT_EQ(Content(dir / "s.json"), "new");
  EXPECT_FALSE(fs::exists(dir / "s.json.partial"));

  EXPECT_FALSE(CanReplace((dir / "no" / "s.json").string(), &reason));
  EXPECT_FALSE(ReplaceFile((dir / "no" / "s.json").string(), "new", &reason));
  EXPECT_EQ(reason, "No such file or directory");
  EXPECT_FALSE(CanReplace(dir.string(), &reason));
  EXPECT_EQ(reason, "it is a directory");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace fwu::cli
