#include "hive/log_builder.h"

#include "marvin32.h"

namespace hive_builder {
namespace {

constexpr std::size_t BaseBlockSize = 4096;
constexpr std::size_t Sector = 512;

std::uint32_t Get32(std::string_view bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

void Put(std::string& bytes, std::size_t at, std::uint64_t value, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        bytes[at + i] = static_cast<char>(value >> (8 * i));
    }
}

std::uint64_t Hash(std::string_view bytes)
{
    return simulated_windows::Marvin32({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()},
                                       0xC5554E7A884DEF82);
}

// Whole sectors: log entries and dirty pages start on them.
void PadToSector(std::string& bytes)
{
    bytes.resize((bytes.size() + Sector - 1) / Sector * Sector, '\0');
}

// The offsets in the hive bins of `after`'s pages of `size` bytes that `before` lacks or holds otherwise.
std::vector<std::size_t> ChangedPages(std::string_view before, std::string_view after, std::size_t size)
{
    std::vector<std::size_t> pages;
    for (std::size_t at = BaseBlockSize; at < after.size(); at += size) {
        if (before.substr(std::min(at, before.size()), size) != after.substr(at, size)) {
            pages.push_back(at - BaseBlockSize);
        }
    }
    return pages;
}

// A log's first sector: a copy of the base block's, marked as a log of `fileType`.
std::string LogBaseBlock(std::string_view hive, std::uint32_t fileType)
{
    std::string block(hive.substr(0, Sector));
    SetBaseBlockField(block, 28, fileType);
    return block;
}

} // namespace

void SetBaseBlockField(std::string& file, std::size_t offset, std::uint32_t value)
{
    Put(file, offset, value, 4);
    std::uint32_t checksum = 0;
    for (std::size_t at = 0; at < 508; at += 4) {
        checksum ^= Get32(file, at);
    }
    Put(file, 508, checksum == 0 ? 1 : checksum == 0xFFFFFFFF ? 0xFFFFFFFE : checksum, 4);
}

std::string DirtyHive(std::string hive, std::uint32_t sequence)
{
    SetBaseBlockField(hive, 4, sequence + 1);
    SetBaseBlockField(hive, 8, sequence);
    return hive;
}

std::string NewFormatLog(std::string_view hive, const std::vector<LogEntry>& entries)
{
    std::string log = LogBaseBlock(hive, 6);
    for (const LogEntry& write : entries) {
        const std::vector<std::size_t> pages = ChangedPages(write.before, write.after, 4096);
        std::string entry(40, '\0');
        entry.replace(0, 4, "HvLE");
        Put(entry, 12, write.sequence, 4);
        Put(entry, 16, Get32(write.after, 40), 4); // the size of the hive bins after the write
        Put(entry, 20, pages.size(), 4);
        for (const std::size_t page : pages) {
            entry += std::string(8, '\0');
            Put(entry, entry.size() - 8, page, 4);
            Put(entry, entry.size() - 4, 4096, 4);
        }
        for (const std::size_t page : pages) {
            entry += write.after.substr(BaseBlockSize + page, 4096);
        }
        PadToSector(entry);
        Put(entry, 4, entry.size(), 4);
        Put(entry, 24, Hash(std::string_view(entry).substr(40)) ^ (write.badHash ? 1 : 0), 8);
        Put(entry, 32, Hash(std::string_view(entry).substr(0, 32)), 8);
        log += entry;
    }
    return log;
}

std::string OldFormatLog(std::string_view before, std::string_view after)
{
    std::string log = LogBaseBlock(before, 1);
    const std::uint32_t binsSize = Get32(after, 40);
    SetBaseBlockField(log, 40, binsSize);
    SetBaseBlockField(log, 4, Get32(log, 8)); // written whole: its two sequence numbers agree
    const std::vector<std::size_t> pages = ChangedPages(before, after, Sector);
    std::string bitmap((binsSize / Sector + 7) / 8, '\0');
    for (const std::size_t page : pages) {
        bitmap[page / Sector / 8] = static_cast<char>(bitmap[page / Sector / 8] | 1 << (page / Sector % 8));
    }
    log += "DIRT" + bitmap;
    PadToSector(log);
    for (const std::size_t page : pages) {
        log += after.substr(BaseBlockSize + page, Sector);
    }
    return log;
}

} // namespace hive_builder
