// Device instance IDs made to collide in a table that hashes them with an unkeyed FNV-1a: the
// shape of presence list an attacker can craft against such a table.
#pragma once

#include <cstddef>
#include <string>

namespace test_support {

// The `index`th of up to 2^24 distinct IDs ("ROOT\X\" and 96 upper-case letters and digits) whose
// upper-cased FNV-1a hashes agree in their low 24 bits: each in the slot of every other in any
// power-of-two table of up to 16 million slots.
std::string CollidingInstanceId(std::size_t index);

} // namespace test_support
