// Marvin32, the keyed hash Windows stamps on each entry of a hive's transaction log (the format
// of Windows 8.1 and later).
#pragma once

#include <cstdint>
#include <span>

namespace simulated_windows {

// The 64-bit Marvin32 result of `data` under `seed`: the two 32-bit halves of the state after the
// last round, the first in the low half, as the log stores them (little-endian).
std::uint64_t Marvin32(std::span<const unsigned char> data, std::uint64_t seed);

} // namespace simulated_windows
