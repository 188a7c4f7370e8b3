// Checks of a hive's cells over the file's bytes, made before hivex reads them: hivex takes the
// counts of index roots, of the leaves they name and of big data's segment lists on trust, and
// would read past the cells that hold them. Pure functions; cells are named by their offset in
// the file (the first hive bin's start plus the offset the hive stores).
#pragma once

#include <cstddef>
#include <string_view>

namespace simulated_windows {

// The size of the cell in use at `cell`, its size field included, or 0 when no cell in use lies
// there wholly within the file.
std::size_t CellSize(std::string_view hive, std::size_t cell);

// Whether a cell in use at `cell` holds `fields` bytes after its size field.
bool CellHolds(std::string_view hive, std::size_t cell, std::size_t fields);

// What is wrong with the subkey list of the key record at `key` when it is an index root: the
// root, or a leaf it names, declares more entries than its cell holds ("li" entries take 4 bytes,
// "lf" and "lh" entries 8). nullptr when nothing is, or when the list is a leaf, which hivex checks
// itself. The key's record holds its fields.
const char* IndexRootFault(std::string_view hive, std::size_t key);

// The cell that lists the segments of the value record at `value` when its data is big data (a
// "db" record, which hivex takes for any data larger than its cell), 0 otherwise; `fault` says what
// is wrong with the record or with a list shorter than the segments it declares. The value's
// record holds its fields.
struct BigDataList {
    std::size_t cell = 0;
    const char* fault = nullptr;
};
BigDataList BigDataListOf(std::string_view hive, std::size_t value);

} // namespace simulated_windows
