#include "sim/device_memory.h"

#include <algorithm>

namespace fwu::sim {

DeviceMemory::DeviceMemory() : main_(kMainSize, kErased), second_(kSecondSize, kErased) {}

void DeviceMemory::Erase(Region region) {
  auto& bytes = Of(region);
  std::fill(bytes.begin(), bytes.end(), kErased);
}

DeviceMemory::WriteResult DeviceMemory::WriteBlock(Region region, std::uint32_t address,
                                                   std::span<const std::uint8_t> block) {
  auto& bytes = Of(region);
  const std::uint32_t base = region == Region::Main ? 0U : kSecondBase;
  if (address < base || block.size() > bytes.size() || address - base > bytes.size() - block.size()) {
    return WriteResult::OutOfRange;
  }
  if (address % kBlockSize != 0) {
    return WriteResult::Unaligned;
  }
  const std::size_t offset = address - base;
  bool verified = true;
  for (std::size_t i = 0; i < block.size(); ++i) {
    std::uint8_t& cell = bytes[offset + i];
    cell = static_cast<std::uint8_t>(cell & block[i]);
    verified = verified && cell == block[i];
  }
  return verified ? WriteResult::Ok : WriteResult::VerifyFailed;
}

void DeviceMemory::Load(Region region, std::span<const std::uint8_t> data) {
  auto& bytes = Of(region);
  std::copy_n(data.begin(), std::min(data.size(), bytes.size()), bytes.begin());
}

std::span<const std::uint8_t> DeviceMemory::Bytes(Region region) const {
  return region == Region::Main ? main_ : second_;
}

}  // namespace fwu::sim
