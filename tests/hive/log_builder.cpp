#include "hive/log_builder.h"

#include "marvin32.h"
#include "regf_layout.h"

namespace hive_builder {
namespace {

namespace regf = simulated_windows::regf;
using regf::BaseBlockSize;
using regf::Read32;
using regf::SectorSize;

std::uint64_t Hash(std::string_view bytes)
{
    return simulated_windows::Marvin32({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()},
                                       regf::entry::HashSeed);
}

// Whole sectors: log entries and dirty pages start on them.
void PadToSector(std::string& bytes)
{
    bytes.resize((bytes.size() + SectorSize - 1) / SectorSize * SectorSize, '\0');
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
    std::string block(hive.substr(0, SectorSize));
    regf::SetBaseBlockField(block, regf::base::FileType, fileType);
    return block;
}

} // namespace

std::string DirtyHive(std::string hive, std::uint32_t sequence)
{
    regf::SetBaseBlockField(hive, regf::base::PrimarySequence, sequence + 1);
    regf::SetBaseBlockField(hive, regf::base::SecondarySequence, sequence);
    return hive;
}

std::string NewFormatLog(std::string_view hive, const std::vector<LogEntry>& entries)
{
    std::string log = LogBaseBlock(hive, regf::NewFormatLog);
    // Windows starts a log with the number of the first entry it writes there.
    if (!entries.empty()) {
        regf::SetBaseBlockField(log, regf::base::PrimarySequence, entries.front().sequence);
        regf::SetBaseBlockField(log, regf::base::SecondarySequence, entries.front().sequence);
    }
    for (const LogEntry& write : entries) {
        const std::vector<std::size_t> pages = ChangedPages(write.before, write.after, regf::BinUnit);
        std::string entry(regf::entry::HeaderSize, '\0');
        entry.replace(0, 4, regf::entry::Signature);
        regf::Write32(entry, regf::entry::Sequence, write.sequence);
        // the size of the hive bins after the write
        regf::Write32(entry, regf::entry::BinsSize, Read32(write.after, regf::base::BinsSize));
        regf::Write32(entry, regf::entry::PageCount, static_cast<std::uint32_t>(pages.size()));
        for (const std::size_t page : pages) {
            entry += std::string(8, '\0');
            regf::Write32(entry, entry.size() - 8, static_cast<std::uint32_t>(page));
            regf::Write32(entry, entry.size() - 4, regf::BinUnit);
        }
        for (const std::size_t page : pages) {
            entry += write.after.substr(BaseBlockSize + page, regf::BinUnit);
        }
        PadToSector(entry);
        regf::Write32(entry, regf::entry::Size, static_cast<std::uint32_t>(entry.size()));
        regf::Write(entry, regf::entry::Hash1,
                    Hash(std::string_view(entry).substr(regf::entry::HeaderSize)) ^ (write.badHash ? 1 : 0),
                    8);
        regf::Write(entry, regf::entry::Hash2, Hash(std::string_view(entry).substr(0, regf::entry::Hash2)),
                    8);
        log += entry;
    }
    return log;
}

std::string OldFormatLog(std::string_view before, std::string_view after)
{
    std::string log = LogBaseBlock(before, regf::OldFormatLog);
    const std::uint32_t binsSize = Read32(after, regf::base::BinsSize);
    regf::SetBaseBlockField(log, regf::base::BinsSize, binsSize);
    // written whole: its two sequence numbers agree
    regf::SetBaseBlockField(log, regf::base::PrimarySequence, Read32(log, regf::base::SecondarySequence));
    const std::vector<std::size_t> pages = ChangedPages(before, after, SectorSize);
    std::string bitmap((binsSize / SectorSize + 7) / 8, '\0');
    for (const std::size_t page : pages) {
        bitmap[page / SectorSize / 8] =
            static_cast<char>(bitmap[page / SectorSize / 8] | 1 << (page / SectorSize % 8));
    }
    log += "DIRT" + bitmap;
    PadToSector(log);
    for (const std::size_t page : pages) {
        log += after.substr(BaseBlockSize + page, SectorSize);
    }
    return log;
}

} // namespace hive_builder
