#pragma once

#include <cstdint>
#include <vector>

namespace fwu::test {

// A pair of short images for whole updates that must run fast: a few non-blank blocks that still put the block
// loop to work (DLE, STX and ETX bytes to escape, a block whose only data is its last byte, the text pointers and
// texts the version read looks for). The update treats everything past an image's end as erased.
struct ShapedImages {
  std::vector<std::uint8_t> main;    // 5 non-blank blocks of 20: 0, 3, 16, 17, 19
  std::vector<std::uint8_t> second;  // 2 non-blank blocks of 3
};

ShapedImages SmallShapedImages();

}  // namespace fwu::test
