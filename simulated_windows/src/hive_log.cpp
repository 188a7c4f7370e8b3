#include "hive_log.h"

#include "marvin32.h"
#include "regf_layout.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <optional>
#include <tuple>
#include <vector>

namespace simulated_windows {
namespace {

using namespace regf;

std::uint64_t Hash(std::string_view bytes)
{
    return Marvin32({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()}, entry::HashSeed);
}

struct Log {
    const HiveLog* file;
    std::uint32_t type;
    std::uint32_t sequence; // its base block's primary sequence number
    std::size_t sector;     // where what follows the base block starts
    // Its base block was written whole: its checksum holds and its two sequence numbers agree. A
    // write cut short leaves a log Windows passes over.
    bool valid;
};

[[noreturn]] void NotALog(const HiveLog& log, const std::string& why)
{
    throw RefusedInput(log.name, 0, "not a transaction log of a hive: " + why);
}

// A file by a log's name that is no log at all (another file copied there by mistake) is refused;
// a log whose base block a write cut short is only passed over.
Log ReadLogHeader(const HiveLog& log)
{
    const std::string_view bytes = log.bytes;
    if (bytes.size() < SectorSize || bytes.substr(0, 4) != Signature) {
        NotALog(log, "it does not begin with a base block");
    }
    const std::uint32_t type = Read32(bytes, base::FileType);
    if (type != OldFormatLog && type != NewFormatLog) {
        NotALog(log, "its file type is " + std::to_string(type) + ", where a log has 1 or 6");
    }
    const std::uint32_t factor = Read32(bytes, base::ClusteringFactor);
    if (factor < 1 || factor > 8) {
        NotALog(log, "its clustering factor is " + std::to_string(factor) + ", not 1 to 8");
    }
    const std::uint32_t sequence = Read32(bytes, base::PrimarySequence);
    return {&log, type, sequence, SectorSize * factor,
            ChecksumHolds(bytes) && sequence == Read32(bytes, base::SecondarySequence)};
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
    if (bytes.size() < entry::HeaderSize || bytes.substr(0, 4) != entry::Signature) {
        return {};
    }
    const std::uint32_t size = Read32(bytes, entry::Size);
    if (size < entry::HeaderSize || size > bytes.size()) {
        return {}; // cut short
    }
    const std::string_view whole = bytes.substr(0, size);
    if (Hash(whole.substr(entry::HeaderSize)) != Read64(whole, entry::Hash1) ||
        Hash(whole.substr(0, entry::Hash2)) != Read64(whole, entry::Hash2)) {
        return {};
    }
    Entry read{Read32(whole, entry::Flags), Read32(whole, entry::BinsSize), {}};
    const std::uint64_t count = Read32(whole, entry::PageCount);
    if (read.binsSize == 0 || read.binsSize % BinUnit != 0 || entry::HeaderSize + 8 * count > size) {
        return {};
    }
    std::uint64_t data = entry::HeaderSize + 8 * count;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t offset = Read32(whole, entry::HeaderSize + 8 * i);
        const std::uint32_t length = Read32(whole, entry::HeaderSize + 8 * i + 4);
        if (std::uint64_t{offset} + length > read.binsSize || data + length > size) {
            return {};
        }
        read.pages.push_back({offset, whole.substr(data, length)});
        data += length;
    }
    return {std::move(read), size};
}

// The new-format logs to replay, in the order their entries were written: a log's base block
// carries the number of its first entry, so the log with the lower number holds the earlier
// entries (LOG1 first of two alike). A log whose number is below the hive's secondary sequence
// number holds only entries the hive has already: Windows went on in the other log. A hive whose
// own base block is damaged has no number to go by: only the log with the latest entries is used,
// and its base block stands in for the hive's.
std::vector<const Log*> ReplayOrder(std::span<const Log> logs, std::optional<std::uint32_t> hiveSequence)
{
    std::vector<const Log*> order;
    for (const Log& log : logs) {
        if (log.type == NewFormatLog && log.valid && (!hiveSequence || log.sequence >= *hiveSequence)) {
            order.push_back(&log);
        }
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const Log* a, const Log* b) { return a->sequence < b->sequence; });
    if (!hiveSequence && order.size() > 1) {
        order.erase(order.begin(), order.end() - 1);
    }
    return order;
}

// The entries of one log in turn: they follow one another from its second sector, each on a
// sector boundary, up to the first one that is not whole, past which the log holds nothing Windows
// would use. Only the entry at hand is read: a log's entries are never all held at once.
class EntryCursor {
  public:
    explicit EntryCursor(const Log* log)
        : rest_(log->file->bytes.substr(std::min(log->sector, log->file->bytes.size())))
    {
        Read();
    }

    // The entry of that sequence number when it is the next one here, passing over earlier ones
    // (which another log's entries took the hive past); nullptr when it is not.
    const Entry* Find(std::uint32_t sequence)
    {
        while (size_ != 0 && sequenceHere_ < sequence) {
            rest_.remove_prefix(std::min(rest_.size(), (size_ + SectorSize - 1) / SectorSize * SectorSize));
            Read();
        }
        return size_ != 0 && sequenceHere_ == sequence ? &entry_ : nullptr;
    }

  private:
    void Read()
    {
        std::tie(entry_, size_) = ReadEntry(rest_);
        sequenceHere_ = size_ != 0 ? Read32(rest_, entry::Sequence) : 0;
    }

    std::string_view rest_;
    Entry entry_;
    std::size_t size_ = 0;
    std::uint32_t sequenceHere_ = 0;
};

// Applies the entries of the logs in `order` from the first log's sequence number on, one number
// after another, whichever log holds each, up to the first that is missing or does not hold.
// Windows logs every page of a hive that grew: an entry whose bins reach past the hive's old size
// and every page applied up to it, its own with them, never came from Windows, and ends the replay
// there. Returns how many went in.
std::size_t ApplyEntries(std::string& hive, std::span<const Log* const> order)
{
    std::vector<EntryCursor> cursors(order.begin(), order.end());
    std::uint64_t room = hive.size();
    std::size_t applied = 0;
    std::uint32_t binsSize = 0;
    for (std::uint32_t sequence = order.front()->sequence;; ++sequence) {
        const Entry* next = nullptr;
        for (auto cursor = cursors.begin(); next == nullptr && cursor != cursors.end(); ++cursor) {
            next = cursor->Find(sequence);
        }
        if (next == nullptr) {
            break;
        }
        room = std::accumulate(next->pages.begin(), next->pages.end(), room,
                               [](std::uint64_t sum, const Page& page) { return sum + page.bytes.size(); });
        if (BaseBlockSize + std::uint64_t{next->binsSize} > room) {
            break;
        }
        // The hive takes the size the entry gives it; the buffer only grows, so that entries
        // which shrink and regrow it cost no more than the pages they carry.
        binsSize = next->binsSize;
        hive.resize(std::max(hive.size(), BaseBlockSize + binsSize), '\0');
        for (const Page& page : next->pages) {
            std::copy(page.bytes.begin(), page.bytes.end(), hive.begin() + BaseBlockSize + page.offset);
        }
        Write32(hive, base::PrimarySequence, sequence);
        Write32(hive, base::SecondarySequence, sequence);
        Write32(hive, base::BinsSize, binsSize);
        Write32(hive, base::Flags, next->flags);
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

// Applies a valid old-format log when it was written for this hive: its base block was last
// written when the hive's was. Pages missing from a log cut short are left as they were.
bool ApplyDirtyPages(std::string& hive, const Log& log, std::string_view hiveTimestamp)
{
    const std::string_view bytes = log.file->bytes;
    const std::uint32_t binsSize = Read32(bytes, base::BinsSize);
    if (bytes.substr(base::LastWritten, 8) != hiveTimestamp || binsSize % BinUnit != 0) {
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
    // As for the new format: a hive grows by the pages logged, never beyond.
    std::uint64_t marked = 0;
    for (const char bits : bitmap) {
        marked += static_cast<unsigned>(std::popcount(static_cast<unsigned char>(bits)));
    }
    const std::uint64_t carried =
        std::min<std::uint64_t>(marked, (bytes.size() - std::min(page, bytes.size())) / SectorSize);
    if (BaseBlockSize + std::uint64_t{binsSize} > hive.size() + carried * SectorSize) {
        return false;
    }
    hive.resize(BaseBlockSize + binsSize, '\0');
    for (std::size_t bit = 0; bit < pagesInBins && page + SectorSize <= bytes.size(); ++bit) {
        if ((static_cast<unsigned char>(bitmap[bit / 8]) >> (bit % 8) & 1) != 0) {
            std::memcpy(&hive[BaseBlockSize + bit * SectorSize], &bytes[page], SectorSize);
            page += SectorSize;
        }
    }
    Write32(hive, base::BinsSize, binsSize);
    return true;
}

} // namespace

bool HiveIsDirty(std::string_view hive)
{
    return hive.size() >= BaseBlockSize &&
           (!ChecksumHolds(hive) ||
            Read32(hive, base::PrimarySequence) != Read32(hive, base::SecondarySequence));
}

RecoveredHive RecoverHive(std::string_view hive, std::span<const HiveLog> logs)
{
    if (hive.size() < BaseBlockSize) {
        return {}; // not a hive to recover: the loader says what is wrong with it
    }
    const bool checksumHolds = ChecksumHolds(hive);
    RecoveredHive recovered;
    recovered.dirty = HiveIsDirty(hive);
    std::vector<Log> read;
    for (const HiveLog& log : logs) {
        if (recovered.dirty && !log.bytes.empty()) {
            read.push_back(ReadLogHeader(log));
        }
    }
    if (read.empty()) {
        return recovered;
    }
    const std::vector<const Log*> order = ReplayOrder(
        read, checksumHolds ? std::optional(Read32(hive, base::SecondarySequence)) : std::nullopt);
    std::string bytes(hive);
    // The first hive bin keeps the time of the last write too.
    const std::string_view timestamp = checksumHolds
                                           ? hive.substr(base::LastWritten, 8)
                                           : hive.substr(std::min(FirstBin + BinTimestamp, hive.size()), 8);
    const auto firstValid = std::find_if(read.begin(), read.end(), [](const Log& log) { return log.valid; });
    if (!checksumHolds && (!order.empty() || firstValid != read.end())) {
        const Log& source = order.empty() ? *firstValid : *order.front();
        bytes.replace(0, SectorSize, source.file->bytes.substr(0, SectorSize));
        Write32(bytes, base::FileType, PrimaryFile);
    }
    // A new-format log beside an old one is the newer: the old is left from before an upgrade.
    if (std::any_of(read.begin(), read.end(), [](const Log& log) { return log.type == NewFormatLog; })) {
        recovered.applied = order.empty() ? 0 : ApplyEntries(bytes, order);
    } else {
        recovered.applied = std::any_of(read.begin(), read.end(), [&](const Log& log) {
            return log.valid && ApplyDirtyPages(bytes, log, timestamp);
        });
    }
    if (recovered.applied == 0 && checksumHolds) {
        return recovered;
    }
    SetBaseBlockField(bytes, base::SecondarySequence, Read32(bytes, base::PrimarySequence));
    recovered.bytes = std::move(bytes);
    return recovered;
}

} // namespace simulated_windows
