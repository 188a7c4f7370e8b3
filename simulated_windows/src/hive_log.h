// A hive's transaction logs (NAME.LOG1 and NAME.LOG2 beside it), applied as Windows applies them
// when it loads a hive whose last write was not finished. Microsoft documents none of this; the
// layouts and rules are those of Maxim Suhanov's public notes on the regf format
// (github.com/msuhanov/regf): "Format of transaction log files", "Dirty state of a
// hive" and "Multiple transaction log files".
#pragma once

#include "simulated_windows/refused_input.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace simulated_windows {

struct HiveLog {
    std::string name; // as messages show it
    std::string_view bytes;
};

struct RecoveredHive {
    bool dirty = false;      // the hive's last write was not finished
    std::size_t applied = 0; // log entries applied; a log of the old format counts as one
    std::string bytes;       // the hive with its logs applied; empty when it stays as it was
};

// Applies `logs` (LOG1's first) to a dirty hive, as Windows does at boot. A log counts only when
// its base block was written whole (its checksum holds, its two sequence numbers agree); Windows
// passes over one a write cut short. Logs of Windows 8.1 and later: from the sequence number in
// the base block of the log that holds the earlier entries (a log whose number is below the hive's
// secondary sequence number holds only what the hive has already, and is passed over), the entry
// of that number and those after it in turn, across both logs, up to the first that is missing or
// does not hold (its hashes or its sizes). The hive's own numbers may lag far behind: Windows
// writes its base block back long after its logs. A hive whose base block is damaged takes the
// base block of the log with the latest entries, and that log's entries alone. Otherwise the
// first log of the older format (a base block, a bitmap of dirty 512-byte pages and the pages)
// written for this hive. The recovered base block's sequence numbers, size and checksum then
// agree, so the result reads as a clean hive. A clean hive ignores its logs, and an empty log holds
// nothing. Throws RefusedInput ("<log>: <reason>") for a file that is no transaction log at all;
// a log damaged part way is applied up to the damage. Windows logs every page of a hive that
// grew, so the result is never larger than the hive and the pages applied to it: an entry (or an
// old-format log) that claims more bins stops the replay there, whatever size a log claims.
RecoveredHive RecoverHive(std::string_view hive, std::span<const HiveLog> logs);

// Whether the hive's last write was not finished: its base block's two sequence numbers differ, or
// its checksum does not hold. Only such a hive has logs to read.
bool HiveIsDirty(std::string_view hive);

} // namespace simulated_windows
