#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "firmware_files/firmware_file.h"
#include "support/image_builder.h"
#include "update/images.h"

namespace fwu::firmware_files {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

const std::filesystem::path kImages = FWU_IMAGE_DIR;

// A raw image that begins with a line shaped like a record, then binary data.
std::vector<std::uint8_t> RawStartingWithRecord(std::string_view record) {
  test::ImageBuilder image(kSecondImageSize);
  image.Text(0, record, false).Byte(static_cast<std::uint32_t>(record.size()), '\n').Byte(0x100, 0x00);
  return image.Bytes();
}

// A main image whose model-name pointer lies below the image and whose version text runs to its end unterminated.
std::vector<std::uint8_t> MainWithBadTexts() {
  test::ImageBuilder image(kMainImageSize);
  image.U32le(kModelNamePointer, 0xFFF7FF00).U32le(kVersionPointer, 0xFFFFFFFC).Text(0x7FFFC, "1234", false);
  return image.Bytes();
}

// The carried second image as Intel HEX, blank lines added to make the file exactly an image's size, and a digit
// of its third line spoiled.
std::vector<std::uint8_t> SecondImageHexOfItsSize() {
  std::string text = WriteIntelHex(ReadFile(kImages / "second.bin"), 0x30000);
  text.resize(kSecondImageSize, '\n');
  text[text.find('\n', text.find('\n') + 1) + 4] = 'G';
  return Bytes(text);
}

std::string ManyBadLines() {
  std::string text;
  for (int i = 0; i < 25; ++i) {
    text += ":00000001FE\n";
  }
  return text;
}

TEST(LoadFirmware, RefusesEachFaultWithFileLineAndWhat) {
  struct Case {
    const char* what;
    ImageKind kind;
    std::vector<std::uint8_t> content;
    std::vector<std::string> errors;
  };
  const Case cases[] = {
      {"bad checksum",
       ImageKind::Second,
       Bytes(":0400000001020304F1\n:00000001FF\n"),
       {"f: line 1: bad checksum 0xF1, where the record's bytes give 0xF2"}},
      {"not hex",
       ImageKind::Second,
       Bytes(":0400000001020G04F2\n:00000001FF\n"),
       {"f: line 1: malformed record: 'G' is not a hexadecimal digit"}},
      {"odd digits",
       ImageKind::Second,
       Bytes(":0400000001020304F\n:00000001FF\n"),
       {"f: line 1: malformed record: an odd number of hexadecimal digits"}},
      {"truncated",
       ImageKind::Second,
       Bytes(":0400000001020304\n:00000001FF\n"),
       {"f: line 1: truncated record: its length byte announces 4 data bytes, the line holds 3"}},
      {"not a record",
       ImageKind::Second,
       Bytes(":0100000001FE\n0100000001FE\n:00000001FF\n"),
       {"f: line 2: malformed line: an Intel HEX record starts with ':'"}},
      {"unknown type",
       ImageKind::Second,
       Bytes(":0100000001FE\n:00000006FA\n:00000001FF\n"),
       {"f: line 2: unknown record type 06"}},
      {"outside both windows",
       ImageKind::Second,
       Bytes(":020000040002F8\n:0100000001FE\n:00000001FF\n"),
       {"f: line 2: data at 0x20000-0x20000 lies outside the second image's address windows 0x30000-0x3FFFF and "
        "0x00000-0x0FFFF"}},
      {"two windows",
       ImageKind::Second,
       Bytes("S1040010AA41\nS20503002001D6\nS9030000FC\n"),
       {"f: line 2: data at 0x30020-0x30020 lies outside the window 0x00000-0x0FFFF that line 1 chose: all records "
        "of a file lie in one window"}},
      {"different bytes twice",
       ImageKind::Main,
       Bytes(":020000040001F9\n:020000001122CB\n:0100010033CB\n:00000001FF\n"),
       {"f: line 3: writes 0x33 at 0x10001, where line 2 wrote 0x22"}},
      {"count mismatch",
       ImageKind::Second,
       Bytes("S1040010AA41\nS5030002FA\nS9030000FC\n"),
       {"f: line 2: the count record says 2 data records, the file has 1 before it"}},
      {"S4", ImageKind::Second, Bytes("S1040010AA41\nS4030000FC\nS9030000FC\n"), {"f: line 2: unknown record type S4"}},
      {"no data", ImageKind::Second, Bytes("S0030000FC\nS9030000FC\n"), {"f: line 2: the file holds no data record"}},
      {"no end record",
       ImageKind::Second,
       Bytes(":0100000001FE\n\n"),
       {"f: line 2: the file ends without an end-of-file record (type 01): it may be cut short"}},
      {"record after the end",
       ImageKind::Second,
       Bytes("S1040010AA41\nS9030000FC\nS1040010AA41\n"),
       {"f: line 3: a record after the termination record of line 2"}},
      {"main image rules on a HEX file",
       ImageKind::Main,
       Bytes(":020000040000FA\n:04101000001122FFAA\n:00000001FF\n"),
       {"f: offset 0x1010: the model-name pointer 0xFF221100 lies outside 0xFFF80000-0xFFFFFFFF"}},
      {"raw, short",
       ImageKind::Second,
       std::vector<std::uint8_t>(100, 0x00),
       {"f: offset 0x64: the file ends after 100 bytes, but a second image must be exactly 65536 bytes"}},
      {"raw, long",
       ImageKind::Second,
       std::vector<std::uint8_t>(kSecondImageSize + 3, 0x00),
       {"f: offset 0x10000: 3 bytes more than a second image holds: it must be exactly 65536 bytes"}},
      {"raw, both text rules",
       ImageKind::Main,
       MainWithBadTexts(),
       {"f: offset 0x1010: the model-name pointer 0xFFF7FF00 lies outside 0xFFF80000-0xFFFFFFFF",
        "f: offset 0x7FFFC: the version text at 0xFFFFFFFC has no NUL inside the image"}},
      {"S-records closed by neither a termination record nor their count",
       ImageKind::Second,
       Bytes("S1040010AA41\nS5030001FB\nS1040011AA40\n"),
       {"f: line 3: the file ends without a termination record (S7, S8 or S9) or a matching count record (S5 or "
        "S6) as its last record: it may be cut short"}},
      // A file whose first line is a record is a record file, whatever its size and whatever follows.
      {"the second image as Intel HEX of exactly its size, one digit damaged",
       ImageKind::Second,
       SecondImageHexOfItsSize(),
       {"f: line 3: malformed record: 'G' is not a hexadecimal digit"}},
      {"a first line that is an Intel HEX record, then binary",
       ImageKind::Second,
       RawStartingWithRecord(":10010000214601360121470136007EFE09D2190140"),
       {"f: line 2: malformed line: an Intel HEX record starts with ':'",
        "f: line 2: the file ends without an end-of-file record (type 01): it may be cut short"}},
      {"a first line that is an S-record, then binary",
       ImageKind::Second,
       RawStartingWithRecord("S1130000285F245F2212226A000424290008237C2A"),
       {"f: line 2: malformed line: an S-record starts with 'S' and a type digit",
        "f: line 2: the file ends without a termination record (S7, S8 or S9) or a matching count record (S5 or "
        "S6) as its last record: it may be cut short"}},
      {"a file of garbage", ImageKind::Second, Bytes(ManyBadLines()), {}},
  };
  for (const Case& c : cases) {
    const LoadedImage loaded = ParseFirmware(c.content, c.kind, "f");
    if (c.errors.empty()) {
      // 25 bad checksums and no end record: 20 messages and a count of the rest.
      ASSERT_EQ(loaded.errors.size(), 21U) << c.what;
      EXPECT_EQ(loaded.errors.back(), "f: ... and 6 more faults");
    } else {
      EXPECT_EQ(loaded.errors, c.errors) << c.what;
    }
    EXPECT_TRUE(loaded.bytes.empty()) << c.what;
  }
}

TEST(LoadFirmware, RecognisesTheFormatByContent) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> content;
    const char* format;
    std::uint32_t offset;  // where the data lands in the second image
    std::vector<std::uint8_t> data;
  };
  const std::vector<std::uint8_t> aRecord = {0x21, 0x46, 0x01, 0x36, 0x01, 0x21, 0x47, 0x01,
                                             0x36, 0x00, 0x7E, 0xFE, 0x09, 0xD2, 0x19, 0x01};
  const Case cases[] = {
      {"byte order mark, Intel HEX",
       Bytes("\xEF\xBB\xBF:10010000214601360121470136007EFE09D2190140\r\n:00000001FF\r\n"), "Intel HEX", 0x100,
       aRecord},
      {"byte order mark, S-record", Bytes("\xEF\xBB\xBFS20503FFF0AB5D\nS804000000FB\n"), "S-record", 0xFFF0, {0xAB}},
      {"S-records closed by their count",
       Bytes("S0030000FC\nS20503FFF0AB5D\nS5030001FB\n"),
       "S-record",
       0xFFF0,
       {0xAB}},
      {"raw beginning with a byte order mark", RawStartingWithRecord("\xEF\xBB\xBF"), "raw", 0,
       Bytes("\xEF\xBB\xBF\n")},
      {"Intel HEX", Bytes(":10010000214601360121470136007EFE09D2190140\n:00000001FF\n"), "Intel HEX", 0x100, aRecord},
      {"segments, CR LF, lower case",
       Bytes(":020000020300F9\r\n:02000000aabb99\r\n:00000001FF\r\n"),
       "Intel HEX",
       0x3000,
       {0xAA, 0xBB}},
      {"S-record at write addresses",
       Bytes("S0030000FC\nS1130000285F245F2212226A000424290008237C2A\nS5030001FB\nS9030000FC\n"),
       "S-record",
       0,
       {0x28, 0x5F, 0x24, 0x5F, 0x22, 0x12, 0x22, 0x6A, 0x00, 0x04, 0x24, 0x29, 0x00, 0x08, 0x23, 0x7C}},
      {"S-record at controller addresses", Bytes("S20503FFF0AB5D\nS804000000FB\n"), "S-record", 0xFFF0, {0xAB}},
  };
  for (const Case& c : cases) {
    const LoadedImage loaded = ParseFirmware(c.content, ImageKind::Second, "f");
    ASSERT_EQ(loaded.errors, std::vector<std::string>{}) << c.what;
    EXPECT_EQ(loaded.format, c.format) << c.what;
    ASSERT_EQ(loaded.bytes.size(), kSecondImageSize) << c.what;
    EXPECT_TRUE(std::equal(c.data.begin(), c.data.end(), loaded.bytes.begin() + c.offset)) << c.what;
    if (loaded.format != "raw") {
      const auto erased = std::count(loaded.bytes.begin(), loaded.bytes.end(), 0xFF);
      EXPECT_EQ(static_cast<std::size_t>(erased), kSecondImageSize - c.data.size()) << c.what;
    }
  }
}

// The carried images written as records, with gaps where they are erased, and read back.
TEST(LoadFirmware, CarriedImagesRoundTripThroughBothFormats) {
  struct Case {
    const char* file;
    ImageKind kind;
    std::uint32_t base;
  };
  for (const Case c : {Case{"main.bin", ImageKind::Main, 0xFFF80000}, Case{"main.bin", ImageKind::Main, 0},
                       Case{"second.bin", ImageKind::Second, 0x30000}, Case{"second.bin", ImageKind::Second, 0}}) {
    const LoadedImage raw = LoadFirmwareFile((kImages / c.file).string(), c.kind);
    ASSERT_EQ(raw.errors, std::vector<std::string>{});
    ASSERT_EQ(raw.format, "raw");
    for (const bool intel : {true, false}) {
      const std::string text = intel ? WriteIntelHex(raw.bytes, c.base) : WriteSRecord(raw.bytes, c.base);
      const LoadedImage back = ParseFirmware(Bytes(text), c.kind, "records");
      EXPECT_EQ(back.errors, std::vector<std::string>{}) << c.file << " at " << c.base;
      EXPECT_EQ(back.format, intel ? "Intel HEX" : "S-record");
      EXPECT_TRUE(back.bytes == raw.bytes) << c.file << " at " << c.base << (intel ? " as HEX" : " as S-records");
      // Gaps: far fewer records than a dump of every 16 bytes would need.
      EXPECT_LT(std::count(text.begin(), text.end(), '\n'), static_cast<std::ptrdiff_t>(raw.bytes.size() / 32));
    }
  }
}

// The second image's file read as the main image is sound by the rules, but names the likely mix-up.
TEST(LoadFirmware, WarnsOfTheSecondImageGivenAsTheMainImage) {
  const std::vector<std::uint8_t> second = ReadFile(kImages / "second.bin");
  const std::vector<std::uint8_t> main = ReadFile(kImages / "main.bin");
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> warnings;
  };
  const Case cases[] = {
      {"the second image at its controller addresses",
       WriteSRecord(second, 0x30000),
       {"f: holds data only at 0x30000-0x3FFFF, the second image's region, and neither a model name nor a version: "
        "is it the second image's file, given for the main image?"}},
      {"the main image", WriteIntelHex(main, 0xFFF80000), {}},
  };
  for (const Case& c : cases) {
    const LoadedImage loaded = ParseFirmware(Bytes(c.text), ImageKind::Main, "f");
    EXPECT_EQ(loaded.errors, std::vector<std::string>{}) << c.what;
    EXPECT_EQ(loaded.warnings, c.warnings) << c.what;
  }
}

TEST(ConvertImage, WritesTheRawImageOrSaysWhy) {
  const auto dir = std::filesystem::temp_directory_path() / "fwu-convert-test";
  std::filesystem::create_directories(dir);
  const std::vector<std::uint8_t> main = ReadFile(kImages / "main.bin");
  std::ofstream(dir / "main.mot") << WriteSRecord(main, 0xFFF80000);
  std::ofstream(dir / "bad.hex") << ":0100000001FE\n";

  std::ostringstream err;
  EXPECT_EQ(ConvertImage((dir / "main.mot").string(), ImageKind::Main, (dir / "main.bin").string(), err), 0);
  EXPECT_TRUE(ReadFile(dir / "main.bin") == main);
  EXPECT_EQ(ConvertImage((dir / "bad.hex").string(), ImageKind::Second, (dir / "x.bin").string(), err), 2);
  EXPECT_EQ(ConvertImage((dir / "none.hex").string(), ImageKind::Second, (dir / "x.bin").string(), err), 2);
  EXPECT_EQ(ConvertImage((dir / "main.mot").string(), ImageKind::Main, (dir / "no/such/dir.bin").string(), err), 1);
  const std::string d = dir.string();
  EXPECT_EQ(err.str(),
            d + "/bad.hex: line 1: the file ends without an end-of-file record (type 01): it may be cut short\n" + d +
                "/none.hex: cannot be read: No such file or directory\n" + d +
                "/no/such/dir.bin: cannot be written: No such file or directory\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "x.bin"));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace fwu::firmware_files
