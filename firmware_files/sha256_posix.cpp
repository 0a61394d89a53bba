#include <nettle/sha2.h>

#include "firmware_files/sha256.h"

namespace fwu::firmware_files {

static_assert(SHA256_DIGEST_SIZE == kSha256Size);

bool Sha256(std::span<const std::uint8_t> bytes, std::array<std::uint8_t, kSha256Size>& digest) {
  sha256_ctx context{};
  sha256_init(&context);
  sha256_update(&context, bytes.size(), bytes.data());
  sha256_digest(&context, digest.size(), digest.data());
  return true;
}

}  // namespace fwu::firmware_files
