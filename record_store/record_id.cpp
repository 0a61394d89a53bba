#include "record_store/record_id.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <random>
#include <span>

#include "firmware_files/sha256.h"

namespace fwu::record_store {

namespace {

constexpr std::size_t kUuidBytes = 16;
constexpr std::size_t kUuidTextLength = 36;
constexpr std::array<std::size_t, 4> kDashes{8, 13, 18, 23};

// Puts the version into the high nibble of byte 6 and the RFC 9562 variant (10xx) into byte 8.
std::string UuidText(std::array<std::uint8_t, kUuidBytes> bytes, unsigned version) {
  constexpr std::uint8_t kLowNibble = 0x0F;
  constexpr std::uint8_t kVariantMask = 0x3F;
  constexpr std::uint8_t kVariant = 0x80;
  constexpr unsigned kVersionShift = 4;
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & kLowNibble) | (version << kVersionShift));
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & kVariantMask) | kVariant);
  constexpr std::string_view kHex = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      text += '-';
    }
    text += kHex[bytes[i] >> 4U];
    text += kHex[bytes[i] & kLowNibble];
  }
  return text;
}

}  // namespace

std::string NewRecordId() {
  // The platform's random source (getrandom on Linux, rand_s on Windows): ids of many stations never meet.
  static thread_local std::random_device source;
  std::array<std::uint8_t, kUuidBytes> bytes{};
  for (std::size_t i = 0; i < bytes.size(); i += sizeof(std::uint32_t)) {
    const std::uint32_t word = source();
    for (std::size_t k = 0; k < sizeof(word); ++k) {
      bytes[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
    }
  }
  constexpr unsigned kRandom = 4;
  return UuidText(bytes, kRandom);
}

std::string DerivedRecordId(const nlohmann::ordered_json& record) {
  const std::string line = record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  std::array<std::uint8_t, firmware_files::kSha256Size> digest{};
  firmware_files::Sha256(std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()), digest);
  std::array<std::uint8_t, kUuidBytes> bytes{};
  std::copy_n(digest.begin(), bytes.size(), bytes.begin());
  constexpr unsigned kCustom = 8;
  return UuidText(bytes, kCustom);
}

bool IsRecordId(std::string_view text) {
  if (text.size() != kUuidTextLength) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool dash = std::ranges::find(kDashes, i) != kDashes.end();
    if (dash ? text[i] != '-' : std::isxdigit(static_cast<unsigned char>(text[i])) == 0) {
      return false;
    }
  }
  return true;
}

std::string RecordIdOf(const nlohmann::ordered_json& record) {
  const auto id = record.find("record_id");
  if (id != record.end() && id->is_string() && IsRecordId(id->get_ref<const std::string&>())) {
    return id->get<std::string>();
  }
  return DerivedRecordId(record);
}

}  // namespace fwu::record_store
