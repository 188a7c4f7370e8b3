#include "hive_cells.h"

#include "regf_layout.h"

#include <cstdint>

namespace simulated_windows {
namespace {

using namespace regf;

const char* const ListTooShort = "a list declares more entries than its cell holds";

// The cell that the double word at `at` names.
std::size_t Named(std::string_view hive, std::size_t at)
{
    return FirstBin + std::size_t{Read32(hive, at)};
}

// Whether the list cell at `list`, whose entries follow a header of `header` bytes after its
// size, holds the `count` entries it declares. A list that is no cell in use hivex refuses itself.
bool ListFits(std::string_view hive, std::size_t list, std::size_t header, std::size_t count,
              std::size_t entrySize)
{
    const std::size_t size = CellSize(hive, list);
    return size == 0 || size >= 4 + header + count * entrySize;
}

} // namespace

std::size_t CellSize(std::string_view hive, std::size_t cell)
{
    if (hive.size() < 4 || cell > hive.size() - 4) {
        return 0;
    }
    const auto declared = static_cast<std::int32_t>(Read32(hive, cell));
    const auto size = static_cast<std::size_t>(declared < 0 ? -std::int64_t{declared} : 0);
    return size <= hive.size() - cell ? size : 0;
}

bool CellHolds(std::string_view hive, std::size_t cell, std::size_t fields)
{
    return CellSize(hive, cell) >= 4 + fields;
}

const char* IndexRootFault(std::string_view hive, std::size_t key)
{
    const std::size_t list = Named(hive, key + key::List);
    if (Read32(hive, key + key::Subkeys) == 0 || CellSize(hive, list) < ListEntries ||
        hive.substr(list + ListHeader, 2) != "ri") {
        return nullptr;
    }
    const std::size_t count = Read16(hive, list + ListCount);
    if (!ListFits(hive, list, 4, count, 4)) {
        return ListTooShort;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t leaf = Named(hive, list + ListEntries + 4 * i);
        if (CellSize(hive, leaf) < ListEntries) {
            continue; // hivex refuses what is no leaf
        }
        const std::string_view kind = hive.substr(leaf + ListHeader, 2);
        const std::size_t entrySize = kind == "li" ? 4 : kind == "lf" || kind == "lh" ? 8 : 0;
        if (entrySize != 0 && !ListFits(hive, leaf, 4, Read16(hive, leaf + ListCount), entrySize)) {
            return ListTooShort;
        }
    }
    return nullptr;
}

BigDataList BigDataListOf(std::string_view hive, std::size_t value)
{
    const std::uint32_t size = Read32(hive, value + value::Size);
    const std::size_t data = Named(hive, value + value::Data);
    const std::size_t cell = CellSize(hive, data);
    if ((size & value::DataInRecord) != 0 || cell < 8 || size <= cell - 4 ||
        hive.substr(data + 4, 2) != "db") {
        return {};
    }
    if (!CellHolds(hive, data, BigDataSegmentList)) { // its signature, count and list
        return {0, "a big data record is too short for its fields"};
    }
    const std::size_t list = Named(hive, data + BigDataSegmentList);
    if (!ListFits(hive, list, 0, Read16(hive, data + BigDataSegmentCount), 4)) {
        return {list, ListTooShort};
    }
    return {list, nullptr};
}

} // namespace simulated_windows
