#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <type_traits>

#include "firmware_files/sha256.h"

namespace fwu::firmware_files {

namespace {

bool Succeeded(NTSTATUS status) {
  return status >= 0;
}

struct AlgorithmCloser {
  void operator()(BCRYPT_ALG_HANDLE algorithm) const { static_cast<void>(BCryptCloseAlgorithmProvider(algorithm, 0)); }
};
using Algorithm = std::unique_ptr<std::remove_pointer_t<BCRYPT_ALG_HANDLE>, AlgorithmCloser>;

struct HashDestroyer {
  void operator()(BCRYPT_HASH_HANDLE hash) const { static_cast<void>(BCryptDestroyHash(hash)); }
};
using Hash = std::unique_ptr<std::remove_pointer_t<BCRYPT_HASH_HANDLE>, HashDestroyer>;

}  // namespace

bool Sha256(std::span<const std::uint8_t> bytes, std::array<std::uint8_t, kSha256Size>& digest) {
  BCRYPT_ALG_HANDLE opened = nullptr;
  if (!Succeeded(BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return false;
  }
  const Algorithm algorithm(opened);
  BCRYPT_HASH_HANDLE created = nullptr;
  // No object buffer: the provider keeps the hash state itself.
  if (!Succeeded(BCryptCreateHash(algorithm.get(), &created, nullptr, 0, nullptr, 0, 0))) {
    return false;
  }
  const Hash hash(created);
  // The length is a ULONG: a larger input goes in pieces.
  while (!bytes.empty()) {
    const std::size_t piece = std::min<std::size_t>(bytes.size(), std::numeric_limits<ULONG>::max());
    if (!Succeeded(BCryptHashData(hash.get(), const_cast<PUCHAR>(bytes.data()), static_cast<ULONG>(piece), 0))) {
      return false;
    }
    bytes = bytes.subspan(piece);
  }
  return Succeeded(BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0));
}

}  // namespace fwu::firmware_files
