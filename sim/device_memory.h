#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace fwu::sim {

// The controller's flash as the boot loader sees it: the main region (write addresses 0x00000-0x7FFFF) and the
// second region (0x30000-0x3FFFF, a separate part with its own address window). Erased flash reads 0xFF, and
// programming can only clear bits, so writing over data without an erase shows up as a verify failure.
class DeviceMemory {
 public:
  enum class Region { Main, Second };
  static constexpr std::size_t kMainSize = 524'288;
  static constexpr std::size_t kSecondSize = 65'536;
  static constexpr std::uint32_t kSecondBase = 0x30000;
  static constexpr std::size_t kBlockSize = 256;
  static constexpr std::uint8_t kErased = 0xFF;

  enum class WriteResult { Ok, OutOfRange, Unaligned, VerifyFailed };

  DeviceMemory();

  void Erase(Region region);
  // Programs one block at a controller write address. The data is stored as flash stores it (old AND new), and
  // VerifyFailed tells that some bit would have had to go from 0 to 1.
  WriteResult WriteBlock(Region region, std::uint32_t address, std::span<const std::uint8_t> block);
  // Replaces the start of a region with data (the firmware the controller held before; the rest stays erased).
  void Load(Region region, std::span<const std::uint8_t> data);

  [[nodiscard]] std::span<const std::uint8_t> Bytes(Region region) const;

 private:
  std::vector<std::uint8_t>& Of(Region region) { return region == Region::Main ? main_ : second_; }

  std::vector<std::uint8_t> main_;
  std::vector<std::uint8_t> second_;
};

}  // namespace fwu::sim
