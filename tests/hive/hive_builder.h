// Builds saved SYSTEM hives for the tests: no hive made elsewhere is checked in.
#pragma once

#include "registry.h"

#include <cstdint>
#include <string>

namespace hive_builder {

// `text` in UTF-8, as hivex takes and gives names.
std::string Utf8(const std::u16string& text);

// The bytes of an empty hive of our own making: a base block with its checksum, one hive bin, a
// root key named `rootName` (ASCII, at most 8 characters) with its security cell and free space
// behind them. hivex opens it and can add to it.
std::string EmptyHive(const char* rootName = "ROOT");

// Writes, at `path`, a SYSTEM hive that holds what `machine` holds below
// HKEY_LOCAL_MACHINE\SYSTEM, with CurrentControlSet stored as ControlSet00<controlSet> and Select\Current
// naming it, as `reg save` would save that machine. Throws std::runtime_error when hivex fails.
void WriteSystemHive(const std::string& path, const simulated_windows::Registry& machine,
                     std::uint32_t controlSet = 1);

// Writes, at `path`, a hive of the one subtree HKEY_LOCAL_MACHINE\<keyPath> of `machine`, as
// `reg save` of that key writes it: its root key named after the key, `rootName`. Throws
// std::runtime_error when hivex fails.
void WriteSubtreeHive(const std::string& path, const simulated_windows::Registry& machine,
                      std::u16string_view keyPath, const char* rootName);

// The bytes of the hive WriteSystemHive writes.
std::string SystemHive(const simulated_windows::Registry& machine, std::uint32_t controlSet = 1);

// Renames the key at `path` below the hive's root ("ControlSet001\\Enum"), to a name of the same
// length: for keys no machine holds, such as a stored CurrentControlSet.
void RenameKey(std::string& hive, const std::string& path, const std::string& name);
// The same for the value `value` of that key. Both write any bytes, NULs and backslashes among
// them, which hivex's functions cannot.
void RenameValue(std::string& hive, const std::string& path, const std::string& value,
                 const std::string& name);

// Structures hivex cannot write, made by patching a hive it wrote: each a SYSTEM hive with one
// adapter-free control set, whose key ControlSet001\Hostile holds the shape.
enum class Shape {
    RepeatedSubkey, // `size` levels of keys whose subkey list names one subkey twice
    SharedSubkey,   // two keys' subkey lists name one key
    OwnDescendant,  // a key listed among the subkeys of its own subkey
    SharedValues,   // `size` keys whose value lists are one list of `size` values
    SharedData,     // `size` values whose data is one cell of 256 bytes a value, up to 999,000
    SharedSegments, // `size` values of big data whose block lists all name one segment, 64 times
    HugeIndexRoot,  // an index root ("ri") that declares 65,535 leaves in a cell of one
    HugeBlockList,  // big data whose block list declares 65,535 segments in a cell of one
    CellPastItsBin, // a value's data cell that declares 16 MiB, past its bin and the file
};
inline constexpr Shape Shapes[] = {Shape::RepeatedSubkey, Shape::SharedSubkey,  Shape::OwnDescendant,
                                   Shape::SharedValues,   Shape::SharedData,    Shape::SharedSegments,
                                   Shape::HugeIndexRoot,  Shape::HugeBlockList, Shape::CellPastItsBin};
const char* ShapeName(Shape shape);
// Structures Windows writes that hivex does not, made the same way: each a SYSTEM hive whose key
// ControlSet001\Regular holds the shape, which every reader takes.
enum class ValidShape {
    IndexRootOfLi, // an index root ("ri") naming a leaf of 4-byte entries ("li"), its cell no larger than
                   // they need
    IndexRootOfLh, // an index root naming a leaf with hashes of its names ("lh"), as Windows writes large
                   // lists
};
inline constexpr ValidShape ValidShapes[] = {ValidShape::IndexRootOfLi, ValidShape::IndexRootOfLh};
const char* ValidShapeName(ValidShape shape);
std::string ValidHive(ValidShape shape);

// `padding` bytes of data in values beside the shape, read before it, to make the file large.
std::string HostileHive(Shape shape, std::size_t size, std::size_t padding = 0);

} // namespace hive_builder
