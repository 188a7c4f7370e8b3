// The input of the hive fuzzers and what is checked of it (hive_target.cpp): the hive up to where
// its base block says its bins end, then LOG1, then, from the first "regf" after LOG1's first
// sector on a 512-byte boundary, LOG2: a dirty hive and its logs concatenated, as scripts/fuzz
// seeds them. Each fuzzer brings its own mutator.
#pragma once

#include "hive_log.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace hive_target {

struct Input {
    std::string_view hive;
    std::vector<simulated_windows::HiveLog> logs;
};
Input Split(std::string_view bytes);

std::uint32_t Get32(const std::uint8_t* data, std::size_t at);
void Put32(std::uint8_t* data, std::size_t at, std::uint32_t value);
// Makes the checksum of the base block at `at` (a hive's or a log's) hold.
void FixChecksum(std::uint8_t* data, std::size_t size, std::size_t at);

} // namespace hive_target
