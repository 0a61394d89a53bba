#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace fwu::firmware_files {

inline constexpr std::size_t kSha256Size = 32;

// The SHA-256 digest of bytes, from the platform's own library (nettle on Linux, CNG on Windows). False only
// when the platform refuses the job.
bool Sha256(std::span<const std::uint8_t> bytes, std::array<std::uint8_t, kSha256Size>& digest);

// The digest in lower-case hex, as sha256sum prints it, so that a release can be checked against it; empty when
// the platform refused.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace fwu::firmware_files
