// The regf layout of hives and their transaction logs, as Maxim Suhanov's public notes on the
// format describe it (github.com/msuhanov/regf): the offsets, signatures and numbers that the
// loader, the walk, the recovery, the test builders and the fuzzers share, and the little-endian
// reads and writes over a file's bytes. Microsoft documents none of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace simulated_windows::regf {

// Every field is little-endian; a read or write never looks past [at, at + size).
inline std::uint16_t Read16(std::string_view bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}

inline std::uint32_t Read32(std::string_view bytes, std::size_t at)
{
    return Read16(bytes, at) | std::uint32_t{Read16(bytes, at + 2)} << 16;
}

inline std::uint64_t Read64(std::string_view bytes, std::size_t at)
{
    return Read32(bytes, at) | std::uint64_t{Read32(bytes, at + 4)} << 32;
}

inline void Write(std::span<char> bytes, std::size_t at, std::uint64_t value, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        bytes[at + i] = static_cast<char>(value >> (8 * i));
    }
}

inline void Write32(std::span<char> bytes, std::size_t at, std::uint32_t value)
{
    Write(bytes, at, value, 4);
}

// The base block: the first 4096 bytes of a hive, whose first sector a log copies.
inline constexpr std::size_t BaseBlockSize = 4096;
inline constexpr std::size_t SectorSize = 512; // a log's entries and pages sit on these
inline constexpr std::string_view Signature = "regf";
namespace base {
inline constexpr std::size_t PrimarySequence = 4;
inline constexpr std::size_t SecondarySequence = 8;
inline constexpr std::size_t LastWritten = 12; // a FILETIME
inline constexpr std::size_t FileType = 28;
inline constexpr std::size_t RootCell = 36;
inline constexpr std::size_t BinsSize = 40;
inline constexpr std::size_t ClusteringFactor = 44; // the disk's sector size over 512
inline constexpr std::size_t Flags = 144;
inline constexpr std::size_t Checksum = 508; // of the 127 double words before it
} // namespace base
inline constexpr std::uint32_t PrimaryFile = 0;
inline constexpr std::uint32_t OldFormatLog = 1; // Windows XP to 8
inline constexpr std::uint32_t NewFormatLog = 6; // Windows 8.1 and later

// The XOR of the base block's first 127 double words; 0 and ~0 are stored as 1 and ~0 - 1. The
// bytes hold at least the first sector.
inline std::uint32_t BaseBlockChecksum(std::string_view bytes)
{
    std::uint32_t checksum = 0;
    for (std::size_t at = 0; at < base::Checksum; at += 4) {
        checksum ^= Read32(bytes, at);
    }
    return checksum == 0 ? 1 : checksum == 0xFFFFFFFF ? 0xFFFFFFFE : checksum;
}

inline bool ChecksumHolds(std::string_view bytes)
{
    return bytes.size() >= SectorSize && Read32(bytes, base::Checksum) == BaseBlockChecksum(bytes);
}

// Writes a field of a base block and the checksum that then holds.
inline void SetBaseBlockField(std::span<char> bytes, std::size_t at, std::uint32_t value)
{
    Write32(bytes, at, value);
    const std::string_view read(bytes.data(), bytes.size());
    Write32(bytes, base::Checksum, BaseBlockChecksum(read));
}

// Hive bins follow the base block, each a multiple of 4096 bytes; a cell is named by its offset
// from the first bin's start. A bin starts with a header: "hbin", its offset, its size, ... and
// the time of the last write, which stands in for a damaged base block's.
inline constexpr std::size_t FirstBin = BaseBlockSize;
inline constexpr std::size_t BinUnit = 4096;
inline constexpr std::size_t BinHeaderSize = 0x20;
inline constexpr std::size_t BinSize = 8;
inline constexpr std::size_t BinTimestamp = 20;

// A cell starts with its size, negative while in use, then its two-letter signature. Offsets
// within a cell count from its start, its size included.
namespace key {                              // "nk"
inline constexpr std::size_t Subkeys = 0x18; // its number of subkeys
inline constexpr std::size_t List = 0x20;    // its subkey list
inline constexpr std::size_t Values = 0x28;  // its number of values
inline constexpr std::size_t ValueList = 0x2C;
inline constexpr std::size_t NameLength = 0x4C;
inline constexpr std::size_t Fields = 0x4C; // the fields after the size, before the name
} // namespace key
namespace value {                           // "vk"
inline constexpr std::size_t Size = 0x08;   // the data's size; the top bit set: data in the record
inline constexpr std::size_t Data = 0x0C;   // the data cell
inline constexpr std::size_t Fields = 0x14; // the fields after the size, before the name
inline constexpr std::uint32_t DataInRecord = 0x80000000;
} // namespace value
// Subkey lists: "li" names each subkey by its offset (4 bytes); "lf" and "lh" add a hint of its
// name (8 bytes); "ri", an index root, names leaves of those kinds. Each has its signature and its
// count (16 bits) after the cell's size, then the entries. Big data ("db") has its number of
// segments, then the offset of the cell that lists them, 4 bytes each.
inline constexpr std::size_t ListHeader = 4;
inline constexpr std::size_t ListCount = 6;
inline constexpr std::size_t ListEntries = 8;
inline constexpr std::size_t BigDataSegmentCount = 6;
inline constexpr std::size_t BigDataSegmentList = 8;

// A log entry of the new format ("HvLE"), on a sector boundary of its log.
namespace entry {
inline constexpr std::string_view Signature = "HvLE";
inline constexpr std::size_t Size = 4;
inline constexpr std::size_t Flags = 8;
inline constexpr std::size_t Sequence = 12;
inline constexpr std::size_t BinsSize = 16;
inline constexpr std::size_t PageCount = 20;
inline constexpr std::size_t Hash1 = 24; // Marvin32 of the entry from its page references on
inline constexpr std::size_t Hash2 = 32; // Marvin32 of the entry's first 32 bytes
inline constexpr std::size_t HeaderSize = 40;
// The notes give the seed as "14219357686671994754 (little-endian)"; read as the number that
// decimal names, no entry a Windows wrote verifies. Every entry of the real logs under
// tests/hive/real verifies with this value, whose bytes that decimal's are in reverse.
inline constexpr std::uint64_t HashSeed = 0x82EF4D887A4E55C5;
} // namespace entry

} // namespace simulated_windows::regf
