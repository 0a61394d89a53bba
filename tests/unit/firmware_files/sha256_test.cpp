// Known answers of SHA-256, across the block boundary where padding changes shape.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "firmware_files/sha256.h"

namespace fwu::firmware_files {
namespace {

TEST(Sha256, GivesTheKnownDigests) {
  struct Case {
    std::string text;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::vector<std::uint8_t> bytes(c.text.begin(), c.text.end());
    EXPECT_EQ(Sha256Hex(bytes), c.digest);
  }
}

}  // namespace
}  // namespace fwu::firmware_files
