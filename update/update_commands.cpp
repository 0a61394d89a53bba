#include "update/update_commands.h"

#include <algorithm>

namespace fwu {

namespace {

void PutU32be(std::span<std::uint8_t> at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 24U);
  at[1] = static_cast<std::uint8_t>(value >> 16U);
  at[2] = static_cast<std::uint8_t>(value >> 8U);
  at[3] = static_cast<std::uint8_t>(value);
}

}  // namespace

bool FillBlockWrite(BlockPayload& payload, std::span<const std::uint8_t> image, std::uint8_t qualifier,
                    std::uint32_t firstAddress, std::uint32_t k) {
  payload[0] = kBlockWrite;
  payload[1] = qualifier;
  PutU32be(std::span(payload).subspan(kBlockAddressOffset, 4),
           firstAddress + k * static_cast<std::uint32_t>(kBlockSize));
  PutU32be(std::span(payload).subspan(kBlockLengthOffset, 4), static_cast<std::uint32_t>(kBlockSize));
  const std::size_t start = std::size_t{k} * kBlockSize;
  const auto data = std::span(payload).subspan(kBlockDataOffset);
  const auto source = start < image.size() ? image.subspan(start, std::min(kBlockSize, image.size() - start))
                                           : std::span<const std::uint8_t>();
  const auto copied = std::copy(source.begin(), source.end(), data.begin());
  std::fill(copied, data.end(), kErased);
  return std::any_of(data.begin(), data.end(), [](std::uint8_t b) { return b != kErased; });
}

}  // namespace fwu
