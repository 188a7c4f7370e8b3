// Dirty hives and the transaction logs a Windows that stopped during a write leaves beside them,
// in both formats, made from whole hives before and after each write: for the tests and the hive
// fuzzer's seeds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hive_builder {

// `hive` as a write that did not finish leaves it: its primary sequence number one past its
// secondary one, `sequence`.
std::string DirtyHive(std::string hive, std::uint32_t sequence);

// One write, as a log entry of Windows 8.1 and later: the 4096-byte pages of `after` that differ
// from `before`'s, with the sequence number the hive had before the write.
struct LogEntry {
    std::string_view before;
    std::string_view after;
    std::uint32_t sequence = 0;
    bool badHash = false; // its first hash does not match what it holds
};

// A log of Windows 8.1 and later: a copy of `hive`'s base block that carries the first entry's
// sequence number, as Windows starts a log, then the entries in order.
std::string NewFormatLog(std::string_view hive, const std::vector<LogEntry>& entries);

// A log of Windows XP to 8 for the write that turns `before` into `after`: a copy of `before`'s
// base block, the bitmap of the 512-byte pages that differ, and those pages of `after`.
std::string OldFormatLog(std::string_view before, std::string_view after);

} // namespace hive_builder
