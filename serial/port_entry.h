#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace fwu {

// The selector's entry buffer holds 256 bytes, so an entry keeps at most 255 characters.
inline constexpr std::size_t kMaxPortEntryLength = 255;
// The "PortName" value is read into 256 bytes; a value that fills them needs no terminator of its own.
inline constexpr std::size_t kPortNameBufferSize = 256;

// The text in a buffer filled by the platform: up to its first NUL, or all of it when it holds none.
std::string BufferText(std::span<const char> buffer);

// One port selector entry: the port name, "(", the device description, ")". A part that could not be read is
// shown as "(null)"; the entry is cut to kMaxPortEntryLength characters.
std::string PortEntry(std::optional<std::string_view> portName, std::optional<std::string_view> description);

}  // namespace fwu
