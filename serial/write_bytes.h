#pragma once

#include <cstdint>
#include <span>

#include "serial/link.h"

namespace fwu {

// Writes bytes to the port after a 10 ms wait, completing partial writes. An attempt that writes nothing counts
// toward a limit of five, 100 ms apart. Returns the number of bytes written in all; when nothing at all could be
// written, 0 if the last attempt failed and 1 if it succeeded with zero bytes.
std::uint32_t WriteBytes(Link& link, std::span<const std::uint8_t> bytes);

}  // namespace fwu
