#pragma once

#include <cstdint>

namespace fwu::sim {

// Microseconds on whatever monotonic clock the caller feeds the boot loader with.
using TimeUs = std::uint64_t;

}  // namespace fwu::sim
