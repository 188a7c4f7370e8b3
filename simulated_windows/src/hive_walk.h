// The keys and values of a hive, read through hivex in time and memory bounded by the hive's size,
// whatever its cells say. Internal to the hive loader (hive_file.cpp) and the tools that read
// hives as they stand.
#pragma once

#include "registry.h"

#include <hivex.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace simulated_windows {

// hivex hands out malloc'd names, lists and data.
struct HivexFree {
    void operator()(void* memory) const { std::free(memory); }
};
template <typename T> using HivexOwned = std::unique_ptr<T, HivexFree>;

// hivex's reads of one hive opened from `bytes`, each behind the checks of the cells hivex would
// trust (hive_cells.h). Each failure throws RefusedInput ("<file>: <reason>"): a damaged hive, or
// a name past Windows' limits. hivex sets errno when it fails, but its values (EFAULT for a cell
// out of place) say nothing a user could act on: the reasons name what could not be read.
class HiveReader {
  public:
    HiveReader(hive_h* hive, std::string_view bytes, const std::string& fileName)
        : hive_(hive), bytes_(bytes), fileName_(fileName)
    {
    }

    std::string_view Bytes() const { return bytes_; }
    [[noreturn]] void Fail(const std::string& reason) const;

    hive_node_h Root() const;
    HivexOwned<hive_node_h> Children(hive_node_h node, const char* what = "the subkeys of a key") const;
    // Names read with their counted length; one Windows could not hold is refused (registry.h).
    std::u16string NodeName(hive_node_h node) const;
    // The subkey of that name, in any case, or 0.
    hive_node_h FindChild(hive_node_h node, std::u16string_view name) const;
    HivexOwned<hive_value_h> Values(hive_node_h node) const;
    std::u16string ValueName(hive_value_h value) const;
    // The cell that lists the segments of a value's big data, 0 for other data.
    std::size_t BigDataSegments(hive_value_h value) const;
    // The value's data; nullptr when hivex cannot read it.
    HivexOwned<char> Data(hive_value_h value, std::uint32_t& type, std::size_t& length) const;
    // The data of the value of that name when it is a REG_DWORD of 4 bytes; its size is looked at
    // before its data is read, as what a value declares may be large.
    std::optional<std::uint32_t> DwordValue(hive_node_h node, std::u16string_view name) const;

  private:
    void RequireCell(std::size_t cell, std::size_t fields, const char* what) const;
    // A name hivex read, of `length` bytes of UTF-8, in UTF-16; refused when Windows could not
    // hold it, for the reason `fault` gives (registry.h).
    std::u16string CountedName(HivexOwned<char> name, std::size_t length, const char* what,
                               std::string (*fault)(std::u16string_view)) const;

    hive_h* hive_;
    std::string_view bytes_;
    const std::string& fileName_;
};

// Copies the keys and values below the hive's root key into `into`, over what it holds, passing
// over the root's subkey `passOver` (when not empty). Every key, value and data cell is read at
// most once, and the values' data may add up to at most the file's size, which a hive that stores
// each value's data once never exceeds: so the registry built takes memory in proportion to the
// file, and the walk time. Keys deeper than Windows takes below `into` (at `depth` below its root
// key), and names longer than it takes, are refused as Windows refuses them (registry.h). Throws
// RefusedInput; `into` may then hold part of the hive.
void CopyHive(const HiveReader& hive, const std::shared_ptr<RegistryKey>& into, std::size_t depth,
              std::u16string_view passOver = {});

} // namespace simulated_windows
