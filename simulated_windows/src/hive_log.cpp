#include "hive_log.h"

#include "marvin32.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

namespace simulated_windows {
namespace {

// The base block, at the start of a hive and (its first sector) of each log.
constexpr std::size_t BaseBlockSize = 4096;
constexpr std::size_t PrimarySequence = 4;
constexpr std::size_t SecondarySequence = 8;
constexpr std::size_t LastWritten = 12; // a FILETIME
constexpr std::size_t FileType = 28;
constexpr std::size_t BinsSize = 40;
constexpr std::size_t ClusteringFactor = 44; // the disk's sector size over 512
constexpr std::size_t BaseBlockFlags = 144;
constexpr std::size_t Checksum = 508;
constexpr std::uint32_t PrimaryFile = 0;
constexpr std::uint32_t OldFormatLog = 1; // Windows XP to 8
constexpr std::uint32_t NewFormatLog = 6; // Windows 8.1 and later
constexpr std::size_t FirstBinTimestamp = BaseBlockSize + 20;

// A log entry of the new format.
constexpr std::size_t EntryFlags = 8;
constexpr std::size_t EntrySequence = 12;
constexpr std::size_t EntryBinsSize = 16;
constexpr std::size_t EntryPageCount = 20;
constexpr std::size_t EntryHash1 = 24; // Marvin32 of the entry from its page references on
constexpr std::size_t EntryHash2 = 32; // Marvin32 of the entry's first 32 bytes
constexpr std::size_t EntryHeaderSize = 40;
constexpr std::uint64_t EntryHashSeed = 0xC5554E7A884DEF82; // the bytes 82 EF 4D 88 7A 4E 55 C5

constexpr std::size_t SectorSize = 512; // log entries and old-format pages sit on these
constexpr std::size_t BinUnit = 4096;   // hive bins are multiples of it

std::uint32_t Read32(std::string_view bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

std::uint64_t Read64(std::string_view bytes, std::size_t at)
{
    return Read32(bytes, at) | (std::uint64_t{Read32(bytes, at + 4)} << 32);
}

void Write32(std::string& bytes, std::size_t at, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>(value >> (8 * i));
    }
}

// The XOR of the base block's first 127 double words; 0 and ~0 are stored as 1 and ~0 - 1.
std::uint32_t BaseBlockChecksum(std::string_view bytes)
{
    std::uint32_t checksum = 0;
    for (std::size_t at = 0; at < Checksum; at += 4) {
        checksum ^= Read32(bytes, at);
    }
    return checksum == 0 ? 1 : checksum == 0xFFFFFFFF ? 0xFFFFFFFE : checksum;
}

std::uint64_t Hash(std::string_view bytes)
{
    return Marvin32({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()}, EntryHashSeed);
}

struct Log {
    const HiveLog* file;
    std::uint32_t type;
    std::size_t sector; // where what follows the base block starts
};

[[noreturn]] void NotALog(const HiveLog& log, const std::string& why)
{
    throw RefusedInput(log.name, 0, "not a transaction log of a hive: " + why);
}

Log ReadLogHeader(const HiveLog& log)
{
    const std::string_view bytes = log.bytes;
    if (bytes.size() < SectorSize || bytes.substr(0, 4) != "regf") {
        NotALog(log, "it does not begin with a base block");
    }
    if (Read32(bytes, Checksum) != BaseBlockChecksum(bytes)) {
        NotALog(log, "the checksum of its base block is wrong");
    }
    const std::uint32_t type = Read32(bytes, FileType);
    if (type != OldFormatLog && type != NewFormatLog) {
        NotALog(log, "its file type is " + std::to_string(type) + ", where a log has 1 or 6");
    }
    const std::uint32_t factor = Read32(bytes, ClusteringFactor);
    if (factor < 1 || factor > 8) {
        NotALog(log, "its clustering factor is " + std::to_string(factor) + ", not 1 to 8");
    }
    return {&log, type, SectorSize * factor};
}

struct Page {
    std::uint32_t offset; // in the hive bins
    std::string_view bytes;
};

struct Entry {
    std::uint32_t flags;
    std::uint32_t binsSize;
    std::vector<Page> pages;
};

// The entry at the start of `bytes`, and its size; a size of 0 when there is no whole entry there.
std::pair<Entry, std::size_t> ReadEntry(std::string_view bytes)
{
    if (bytes.size() < EntryHeaderSize || bytes.substr(0, 4) != "HvLE") {
        return {};
    }
    const std::uint32_t size = Read32(bytes, 4);
    if (size < EntryHeaderSize || size > bytes.size()) {
        return {}; // cut short
    }
    const std::string_view entry = bytes.substr(0, size);
    if (Hash(entry.substr(EntryHeaderSize)) != Read64(entry, EntryHash1) ||
        Hash(entry.substr(0, EntryHash2)) != Read64(entry, EntryHash2)) {
        return {};
    }
    Entry read{Read32(entry, EntryFlags), Read32(entry, EntryBinsSize), {}};
    const std::uint64_t count = Read32(entry, EntryPageCount);
    if (read.binsSize == 0 || read.binsSize % BinUnit != 0 || EntryHeaderSize + 8 * count > size) {
        return {};
    }
    std::uint64_t data = EntryHeaderSize + 8 * count;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t offset = Read32(entry, EntryHeaderSize + 8 * i);
        const std::uint32_t length = Read32(entry, EntryHeaderSize + 8 * i + 4);
        if (std::uint64_t{offset} + length > read.binsSize || data + length > size) {
            return {};
        }
        read.pages.push_back({offset, entry.substr(data, length)});
        data += length;
    }
    return {std::move(read), size};
}

// Applies the entries of the new-format logs from the hive's secondary sequence number on, one
// sequence number after another, whichever log holds each. Returns how many went in.
std::size_t ApplyEntries(std::string& hive, std::span<const Log> logs, std::uint64_t sizeLimit)
{
    std::map<std::uint32_t, Entry> bySequence;
    for (const Log& log : logs) {
        if (log.type != NewFormatLog) {
            continue;
        }
        // A log's entries follow one another from its second sector, each on a sector boundary,
        // up to the first one that is not whole: past it the log holds nothing Windows would use.
        std::string_view rest = log.file->bytes.substr(std::min(log.sector, log.file->bytes.size()));
        while (true) {
            auto [entry, size] = ReadEntry(rest);
            if (size == 0) {
                break;
            }
            bySequence.try_emplace(Read32(rest, EntrySequence), std::move(entry));
            rest.remove_prefix(std::min(rest.size(), (size + SectorSize - 1) / SectorSize * SectorSize));
        }
    }
    std::size_t applied = 0;
    std::uint32_t binsSize = 0;
    for (std::uint32_t sequence = Read32(hive, SecondarySequence);; ++sequence) {
        const auto found = bySequence.find(sequence);
        if (found == bySequence.end() || BaseBlockSize + std::uint64_t{found->second.binsSize} > sizeLimit) {
            break;
        }
        const Entry& entry = found->second;
        // The hive takes the size the entry gives it; the buffer only grows, so that entries
        // which shrink and regrow it cost no more than the pages they carry.
        binsSize = entry.binsSize;
        hive.resize(std::max(hive.size(), BaseBlockSize + binsSize), '\0');
        for (const Page& page : entry.pages) {
            std::copy(page.bytes.begin(), page.bytes.end(), hive.begin() + BaseBlockSize + page.offset);
        }
        Write32(hive, PrimarySequence, sequence);
        Write32(hive, SecondarySequence, sequence);
        Write32(hive, BinsSize, binsSize);
        Write32(hive, BaseBlockFlags, entry.flags);
        ++applied;
        if (sequence == UINT32_MAX) {
            break;
        }
    }
    if (applied > 0) {
        hive.resize(BaseBlockSize + binsSize);
    }
    return applied;
}

// Applies an old-format log when it was written whole for this hive: its sequence numbers agree,
// and its base block was last written when the hive's was. Pages missing from a log cut short
// are left as they were.
bool ApplyDirtyPages(std::string& hive, const Log& log, std::string_view hiveTimestamp,
                     std::uint64_t sizeLimit)
{
    const std::string_view bytes = log.file->bytes;
    const std::uint32_t binsSize = Read32(bytes, BinsSize);
    if (Read32(bytes, PrimarySequence) != Read32(bytes, SecondarySequence) ||
        bytes.substr(LastWritten, 8) != hiveTimestamp || binsSize % BinUnit != 0 ||
        BaseBlockSize + std::uint64_t{binsSize} > sizeLimit) {
        return false;
    }
    const std::size_t pagesInBins = binsSize / SectorSize;
    const std::size_t bitmapSize = (pagesInBins + 7) / 8;
    if (bytes.size() < log.sector + 4 + bitmapSize || bytes.substr(log.sector, 4) != "DIRT") {
        return false;
    }
    const std::string_view bitmap = bytes.substr(log.sector + 4, bitmapSize);
    // The pages start on the first sector after the bitmap's last.
    std::size_t page = (log.sector + 4 + bitmapSize + log.sector - 1) / log.sector * log.sector;
    hive.resize(BaseBlockSize + binsSize, '\0');
    for (std::size_t bit = 0; bit < pagesInBins && page + SectorSize <= bytes.size(); ++bit) {
        if ((static_cast<unsigned char>(bitmap[bit / 8]) >> (bit % 8) & 1) != 0) {
            std::memcpy(&hive[BaseBlockSize + bit * SectorSize], &bytes[page], SectorSize);
            page += SectorSize;
        }
    }
    Write32(hive, BinsSize, binsSize);
    return true;
}

} // namespace

bool HiveIsDirty(std::string_view hive)
{
    return hive.size() >= BaseBlockSize && (Read32(hive, Checksum) != BaseBlockChecksum(hive) ||
                                            Read32(hive, PrimarySequence) != Read32(hive, SecondarySequence));
}

RecoveredHive RecoverHive(std::string_view hive, std::span<const HiveLog> logs)
{
    if (hive.size() < BaseBlockSize) {
        return {}; // not a hive to recover: the loader says what is wrong with it
    }
    const bool checksumHolds = Read32(hive, Checksum) == BaseBlockChecksum(hive);
    RecoveredHive recovered;
    recovered.dirty = HiveIsDirty(hive);
    std::vector<Log> read;
    std::uint64_t sizeLimit = hive.size();
    for (const HiveLog& log : logs) {
        if (recovered.dirty && !log.bytes.empty()) {
            read.push_back(ReadLogHeader(log));
            sizeLimit += log.bytes.size();
        }
    }
    if (read.empty()) {
        return recovered;
    }
    std::string bytes(hive);
    // The log's copy of a base block stands in for a damaged one; the first hive bin keeps the
    // time of the last write too.
    const std::string_view timestamp = checksumHolds
                                           ? hive.substr(LastWritten, 8)
                                           : hive.substr(std::min(FirstBinTimestamp, hive.size()), 8);
    if (!checksumHolds) {
        bytes.replace(0, SectorSize, read.front().file->bytes.substr(0, SectorSize));
        Write32(bytes, FileType, PrimaryFile);
    }
    // A new-format log beside an old one is the newer: the old is left from before an upgrade.
    if (std::any_of(read.begin(), read.end(), [](const Log& log) { return log.type == NewFormatLog; })) {
        recovered.applied = ApplyEntries(bytes, read, sizeLimit);
    } else {
        recovered.applied = std::any_of(read.begin(), read.end(), [&](const Log& log) {
            return ApplyDirtyPages(bytes, log, timestamp, sizeLimit);
        });
    }
    if (recovered.applied == 0 && checksumHolds) {
        return recovered;
    }
    Write32(bytes, SecondarySequence, Read32(bytes, PrimarySequence));
    Write32(bytes, Checksum, BaseBlockChecksum(bytes));
    recovered.bytes = std::move(bytes);
    return recovered;
}

} // namespace simulated_windows
