#pragma once

#include <cstdint>

namespace fwu {

// The image bytes as the build embedded them (a generated source defines them).
extern const std::uint8_t kEmbeddedMainImage[0x80000];
extern const std::uint8_t kEmbeddedSecondImage[0x10000];

}  // namespace fwu
