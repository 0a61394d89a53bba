#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>

#include "fwsim_process.h"

namespace fwu::test {
namespace {

// Firmware files written by tools nobody here wrote, as a firmware build leaves them, converted back by
// `fwupdate-cli image convert`: the raw image must come out identical to the one the tool was given. A tool that is
// not installed skips its row.
struct ToolFile {
  const char* name;
  const char* tool;
  const char* image;    // update/images/<image>.bin
  const char* command;  // {in} and {out} stand for the raw image and the file the tool writes
};

const ToolFile kToolFiles[] = {
    // No start address given, so srec_cat ends the file with its S5 count record and no termination record.
    {"srec_cat_S37_main", "srec_cat", "main", "srec_cat {in} -binary -offset 0xFFF80000 -o {out} -Motorola"},
    {"srec_cat_HEX_second", "srec_cat", "second", "srec_cat {in} -binary -offset 0x30000 -o {out} -Intel"},
    {"objcopy_srec_main", "objcopy", "main", "objcopy -I binary -O srec --change-addresses 0xFFF80000 {in} {out}"},
    {"objcopy_ihex_second", "objcopy", "second", "objcopy -I binary -O ihex --change-addresses 0x30000 {in} {out}"},
};

// How a row is named in the test list.
void PrintTo(const ToolFile& row, std::ostream* out) {
  *out << row.command;
}

class ToolFileTest : public testing::TestWithParam<ToolFile> {};

std::string Filled(std::string text, const std::string& in, const std::string& out) {
  text.replace(text.find("{in}"), 4, in);
  text.replace(text.find("{out}"), 5, out);
  return text;
}

TEST_P(ToolFileTest, ConvertsBackToTheImageItWasWrittenFrom) {
  const ToolFile& row = GetParam();
  if (std::system((std::string("command -v ") + row.tool + " >/dev/null 2>&1").c_str()) != 0) {
    GTEST_SKIP() << row.tool << " is not installed";
  }
  const TempDir dir;
  const std::string image = std::string(FWU_IMAGE_DIR) + "/" + row.image + ".bin";
  const std::string written = dir.Path("written");
  ASSERT_EQ(std::system(Filled(row.command, image, written).c_str()), 0) << row.command;

  FwsimProcess cli({"image", "convert", written, std::string("--") + row.image, dir.Path("back.bin")}, CLI_PATH);
  ASSERT_EQ(cli.Wait(), 0) << cli.ErrorOutput();
  EXPECT_EQ(cli.ErrorOutput(), "");
  EXPECT_TRUE(ReadFile(dir.Path("back.bin")) == ReadFile(image));
}

INSTANTIATE_TEST_SUITE_P(Tools, ToolFileTest, testing::ValuesIn(kToolFiles),
                         [](const testing::TestParamInfo<ToolFile>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace fwu::test
