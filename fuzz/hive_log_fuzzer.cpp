// A dirty hive and its transaction logs (hive_target.h says what is checked of each input), with a
// mutator that reaches the recovery: a log entry counts only when its two Marvin32 hashes hold, so
// a change to an entry made by bytes alone only drops it. After each change the mutator makes the
// hashes of every entry of both logs hold again, and the checksums of the three base blocks; one
// change in eight is a damage made after, which the recovery must pass over. Besides libFuzzer's
// own changes it moves entries' sequence numbers, sizes of bins, pages' places and lengths and the
// logs' own sequence numbers, which decide what is applied and in which order. Logs of the old
// format have no hashes: their base blocks' checksums are made right.
#include "hive_target.h"
#include "marvin32.h"
#include "regf_layout.h"

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace sim = simulated_windows;
namespace regf = sim::regf;
using hive_target::Get32;
using hive_target::Put32;

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace {

struct Entry {
    std::size_t at;   // in the input
    std::size_t size; // as it declares
};

// Where each log starts in the input, and its entries as the recovery walks them: from the log's
// second sector (by its clustering factor), each on a sector boundary, up to the first that is not
// one. Their hashes are not looked at.
struct Log {
    std::size_t at;
    std::size_t size;
    std::vector<Entry> entries;
};

std::vector<Log> FindLogs(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const hive_target::Input input = hive_target::Split(bytes);
    std::vector<Log> logs;
    for (const sim::HiveLog& file : input.logs) {
        Log log{static_cast<std::size_t>(file.bytes.data() - bytes.data()), file.bytes.size(), {}};
        if (file.bytes.size() >= regf::SectorSize) {
            const std::uint32_t factor = regf::Read32(file.bytes, regf::base::ClusteringFactor);
            std::size_t next = regf::SectorSize * (factor >= 1 && factor <= 8 ? factor : 1);
            while (next + regf::entry::HeaderSize <= file.bytes.size() &&
                   file.bytes.substr(next, 4) == regf::entry::Signature) {
                const std::uint32_t declared = regf::Read32(file.bytes, next + regf::entry::Size);
                if (declared < regf::entry::HeaderSize || declared > file.bytes.size() - next) {
                    break;
                }
                log.entries.push_back({log.at + next, declared});
                next += (declared + regf::SectorSize - 1) / regf::SectorSize * regf::SectorSize;
            }
        }
        logs.push_back(std::move(log));
    }
    return logs;
}

std::uint64_t Hash(const std::uint8_t* data, std::size_t size)
{
    return sim::Marvin32({data, size}, regf::entry::HashSeed);
}

void Put64(std::uint8_t* data, std::size_t at, std::uint64_t value)
{
    Put32(data, at, static_cast<std::uint32_t>(value));
    Put32(data, at + 4, static_cast<std::uint32_t>(value >> 32));
}

// One change of the fields that decide what the recovery applies; false when there is nothing of
// the kind to change.
bool ChangeField(std::uint8_t* data, const std::vector<Log>& logs, std::minstd_rand& random)
{
    std::vector<Entry> entries;
    for (const Log& log : logs) {
        entries.insert(entries.end(), log.entries.begin(), log.entries.end());
    }
    const std::uint32_t odd[] = {0, 1, 0x1000, 0x2000, 0x7FFFF000, 0xFFFFF000, 0xFFFFFFFF, 0x80000000};
    const auto nudge = [&](std::size_t at) {
        const std::uint32_t value = Get32(data, at);
        Put32(data, at,
              random() % 2 == 0 ? value + static_cast<std::uint32_t>(random() % 5) - 2 : odd[random() % 8]);
    };
    switch (random() % 4) {
    case 0: // a log's own sequence numbers, both or one of them
        if (!logs.empty()) {
            const Log& log = logs[random() % logs.size()];
            if (log.size >= regf::SectorSize) {
                nudge(log.at + regf::base::PrimarySequence);
                if (random() % 4 != 0) {
                    Put32(data, log.at + regf::base::SecondarySequence,
                          Get32(data, log.at + regf::base::PrimarySequence));
                }
                return true;
            }
        }
        return false;
    case 1: // an entry's sequence number
        if (!entries.empty()) {
            nudge(entries[random() % entries.size()].at + regf::entry::Sequence);
            return true;
        }
        return false;
    case 2: // the size of the hive's bins after an entry, or its page count
        if (!entries.empty()) {
            const Entry& entry = entries[random() % entries.size()];
            nudge(entry.at + (random() % 2 == 0 ? regf::entry::BinsSize : regf::entry::PageCount));
            return true;
        }
        return false;
    default: // a page's place in the bins, or its length
        for (int tries = 0; tries < 4 && !entries.empty(); ++tries) {
            const Entry& entry = entries[random() % entries.size()];
            const std::uint32_t count = Get32(data, entry.at + regf::entry::PageCount);
            if (count != 0 && regf::entry::HeaderSize + std::uint64_t{8} * count <= entry.size) {
                nudge(entry.at + regf::entry::HeaderSize + 8 * (random() % count) + 4 * (random() % 2));
                return true;
            }
        }
        return false;
    }
}

// The hashes of every entry, and the checksums of the hive's and the logs' base blocks, made to
// hold.
void MakeWhole(std::uint8_t* data, std::size_t size)
{
    const std::vector<Log> logs = FindLogs(data, size);
    for (const Log& log : logs) {
        for (const Entry& entry : log.entries) {
            std::uint8_t* at = data + entry.at;
            Put64(at, regf::entry::Hash1,
                  Hash(at + regf::entry::HeaderSize, entry.size - regf::entry::HeaderSize));
            Put64(at, regf::entry::Hash2, Hash(at, regf::entry::Hash2));
        }
        hive_target::FixChecksum(data, size, log.at);
    }
    hive_target::FixChecksum(data, size, 0);
}

} // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned int seed)
{
    std::minstd_rand random(seed);
    if (random() % 2 != 0 || !ChangeField(data, FindLogs(data, size), random)) {
        size = LLVMFuzzerMutate(data, size, maxSize);
    }
    MakeWhole(data, size);
    if (random() % 8 == 0 && size != 0) {
        data[random() % size] ^= static_cast<std::uint8_t>(1 + random() % 255);
    }
    return size;
}
