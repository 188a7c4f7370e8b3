// Saved hives and the transaction logs beside them, over arbitrary bytes: the recovery, hivex and
// the platform behind them never crash, hang or read out of bounds, a recovered hive is never
// larger than its inputs, and a hive is either loaded or refused with one line "<file>: <reason>"
// naming the hive or one of its logs. The input is the hive up to where its base block says its
// bins end, then LOG1, then, from the first "regf" after LOG1's first sector on a 512-byte
// boundary, LOG2: a dirty hive and its logs concatenated, as scripts/fuzz seeds them.
//
// What the loader asks of hivex is counted, by standing in for hivex's own functions: it lists the
// subkeys of a key at most once (the root's also to find Select and the control set), and takes no
// more value data than the file holds, so that no shape of the hive makes it read a cell again and
// again. Besides libFuzzer's own changes, a mutator that knows the regf layout makes the shapes
// that bytes alone seldom make: subkey lists that name one key twice or a key's own parent, keys
// that share a list, values that share a value list or their data, and counts far larger than
// their cells. The base block's checksum is made right after every change, so that changes reach
// past it.
#include "hive_file.h"
#include "hive_log.h"
#include "regf_layout.h"

#include <hivex.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace sim = simulated_windows;

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace {

namespace regf = sim::regf;
using regf::FirstBin;

std::uint32_t Get32(const std::uint8_t* data, std::size_t at)
{
    return regf::Read32({reinterpret_cast<const char*>(data) + at, 4}, 0);
}

void Put32(std::uint8_t* data, std::size_t at, std::uint32_t value)
{
    regf::Write32({reinterpret_cast<char*>(data) + at, 4}, 0, value);
}

void FixChecksum(std::uint8_t* data, std::size_t size)
{
    if (size >= regf::SectorSize) {
        Put32(data, regf::base::Checksum,
              regf::BaseBlockChecksum({reinterpret_cast<const char*>(data), size}));
    }
}

struct Cells {
    std::vector<std::size_t> keys, values, lists, bigData; // by their offsets in the file
};

// The cells in use, by their signature, found by walking the bins as hivex does.
Cells FindCells(const std::uint8_t* data, std::size_t size)
{
    Cells cells;
    for (std::size_t bin = FirstBin;
         bin + regf::BinHeaderSize <= size && std::memcmp(data + bin, "hbin", 4) == 0;) {
        const std::size_t binSize = Get32(data, bin + regf::BinSize);
        if (binSize < regf::BinUnit || binSize > size - bin) {
            break;
        }
        for (std::size_t cell = bin + regf::BinHeaderSize; cell + 8 <= bin + binSize;) {
            const auto declared = static_cast<std::int32_t>(Get32(data, cell));
            const std::int64_t length = declared < 0 ? -std::int64_t{declared} : declared;
            if (length < 8 || static_cast<std::uint64_t>(length) > bin + binSize - cell) {
                break;
            }
            const char* id = reinterpret_cast<const char*>(data + cell + 4);
            if (declared < 0) {
                auto& kind = std::memcmp(id, "nk", 2) == 0   ? cells.keys
                             : std::memcmp(id, "vk", 2) == 0 ? cells.values
                             : std::memcmp(id, "db", 2) == 0 ? cells.bigData
                                                             : cells.lists;
                kind.push_back(cell);
            }
            cell += static_cast<std::size_t>(length);
        }
        bin += binSize;
    }
    return cells;
}

// One change that keeps the file a hive but gives it a shape of the kind above; false when the
// hive has no cells of the kinds it needs.
bool Reshape(std::uint8_t* data, std::size_t size, std::minstd_rand& random)
{
    const Cells cells = FindCells(data, size);
    const auto pick = [&](const std::vector<std::size_t>& from) { return from[random() % from.size()]; };
    const auto relative = [](std::size_t cell) { return static_cast<std::uint32_t>(cell - FirstBin); };
    const auto fits = [&](std::size_t cell, std::size_t at) {
        return at + 4 <= static_cast<std::size_t>(-static_cast<std::int32_t>(Get32(data, cell)));
    };
    const std::uint32_t huge[] = {0xFFFF, 0x10000, 0x7FFFFFFF, 0xFFFFFFFF, 1000, 70001};
    switch (random() % 6) {
    case 0: // a list entry that names another key: repeats, sharing and cycles
        if (!cells.lists.empty() && !cells.keys.empty()) {
            const std::size_t list = pick(cells.lists);
            const std::size_t stride =
                data[list + 4] == 'l' && (data[list + 5] == 'f' || data[list + 5] == 'h') ? 8 : 4;
            const std::size_t count = data[list + 6] | data[list + 7] << 8;
            const std::size_t at = list + 8 + stride * (count == 0 ? 0 : random() % count);
            if (fits(list, at - list)) {
                Put32(data, at, relative(pick(cells.keys)));
                return true;
            }
        }
        return false;
    case 1: // a key that takes another key's subkey list, or value list, with its count
        if (cells.keys.size() >= 2) {
            const std::size_t key = pick(cells.keys);
            const std::size_t other = pick(cells.keys);
            const bool subkeys = random() % 2 == 0;
            const std::size_t count = subkeys ? regf::key::Subkeys : regf::key::Values;
            const std::size_t list = subkeys ? regf::key::List : regf::key::ValueList;
            if (fits(key, regf::key::ValueList) && fits(other, regf::key::ValueList)) {
                Put32(data, key + count, Get32(data, other + count));
                Put32(data, key + list, Get32(data, other + list));
                return true;
            }
        }
        return false;
    case 2: // a value whose data is another value's
        if (cells.values.size() >= 2) {
            const std::size_t value = pick(cells.values);
            const std::size_t other = pick(cells.values);
            if (fits(value, regf::value::Data) && fits(other, regf::value::Data)) {
                Put32(data, value + regf::value::Size,
                      Get32(data, other + regf::value::Size) & ~regf::value::DataInRecord);
                Put32(data, value + regf::value::Data, Get32(data, other + regf::value::Data));
                return true;
            }
        }
        return false;
    case 3: // a count far larger than its cell: subkeys, values, list entries, big data segments
        if (!cells.keys.empty() && random() % 2 == 0) {
            const std::size_t key = pick(cells.keys);
            if (fits(key, regf::key::ValueList)) {
                Put32(data, key + (random() % 2 == 0 ? regf::key::Subkeys : regf::key::Values),
                      huge[random() % 6]);
                return true;
            }
        }
        if (!cells.lists.empty() || !cells.bigData.empty()) {
            const std::size_t cell = pick(cells.lists.empty() ? cells.bigData : cells.lists);
            data[cell + 6] = static_cast<std::uint8_t>(random());
            data[cell + 7] = static_cast<std::uint8_t>(random());
            return true;
        }
        return false;
    case 4: // a value's data size far larger than its cell
        if (!cells.values.empty()) {
            const std::size_t value = pick(cells.values);
            if (fits(value, regf::value::Size)) {
                Put32(data, value + regf::value::Size, huge[random() % 6] & ~regf::value::DataInRecord);
                return true;
            }
        }
        return false;
    default: // a leaf made an index root, or the other way round
        if (!cells.lists.empty()) {
            const std::size_t list = pick(cells.lists);
            const char* kinds[] = {"lf", "lh", "ri", "li"};
            std::memcpy(data + list + 4, kinds[random() % 4], 2);
            return true;
        }
        return false;
    }
}

// What the loader asked of hivex for the input at hand.
struct Asked {
    std::map<hive_node_h, int> children; // by key
    std::size_t data = 0;                // bytes of value data
};
Asked asked;

template <typename Function> Function* Real(const char* name)
{
    return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

} // namespace

// hivex's functions as the platform calls them: counted, then hivex's own.
extern "C" hive_node_h* hivex_node_children(hive_h* hive, hive_node_h node)
{
    static auto* const real = Real<hive_node_h*(hive_h*, hive_node_h)>("hivex_node_children");
    ++asked.children[node];
    return real(hive, node);
}

extern "C" char* hivex_value_value(hive_h* hive, hive_value_h value, hive_type* type, std::size_t* length)
{
    static auto* const real =
        Real<char*(hive_h*, hive_value_h, hive_type*, std::size_t*)>("hivex_value_value");
    char* data = real(hive, value, type, length);
    asked.data += data != nullptr ? *length : 0;
    return data;
}

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned int seed)
{
    std::minstd_rand random(seed);
    if (random() % 2 != 0 || !Reshape(data, size, random)) {
        size = LLVMFuzzerMutate(data, size, maxSize);
    }
    FixChecksum(data, size);
    return size;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!sim::IsHive(bytes)) {
        return -1; // not a hive: the .reg fuzzer's ground, and no use to the corpus
    }
    const std::uint32_t binsSize =
        bytes.size() >= regf::base::BinsSize + 4 ? regf::Read32(bytes, regf::base::BinsSize) : 0;
    const std::string_view hive =
        bytes.substr(0, std::min<std::uint64_t>(bytes.size(), std::uint64_t{regf::BaseBlockSize} + binsSize));
    const std::string_view rest = bytes.substr(hive.size());
    std::size_t second = regf::SectorSize;
    while (second < rest.size() && rest.substr(second, 4) != regf::Signature) {
        second += regf::SectorSize;
    }
    std::vector<sim::HiveLog> logs;
    if (!rest.empty()) {
        logs.push_back({"fuzz.LOG1", rest.substr(0, second)});
    }
    if (second < rest.size()) {
        logs.push_back({"fuzz.LOG2", rest.substr(second)});
    }
    asked = {};
    sim::RecoveredHive recovered; // outlives the try: `mounted` may be its bytes
    std::string_view mounted = hive;
    sim::Registry registry;
    try {
        recovered = sim::RecoverHive(hive, logs);
        if (recovered.bytes.size() > size) {
            std::abort();
        }
        if (!recovered.bytes.empty()) {
            mounted = recovered.bytes;
        }
        sim::MountHive(registry, mounted, "fuzz.hiv");
    } catch (const sim::RefusedInput& error) {
        const std::string message = error.what();
        const std::string source = message.substr(0, message.find(": "));
        if ((source != "fuzz.hiv" && source != "fuzz.LOG1" && source != "fuzz.LOG2") ||
            message != source + ": " + error.Reason() || error.Line() != 0 || error.Reason().empty() ||
            message.find_first_of("\r\n") != std::string::npos) {
            std::abort();
        }
    }
    const auto* base = reinterpret_cast<const std::uint8_t*>(mounted.data());
    const hive_node_h root =
        mounted.size() >= regf::base::RootCell + 4 ? FirstBin + Get32(base, regf::base::RootCell) : 0;
    for (const auto& [node, times] : asked.children) {
        if (times > (node == root ? 3 : 1)) {
            std::abort();
        }
    }
    if (asked.data > mounted.size() + 8) { // Select\Current is read twice
        std::abort();
    }
    return 0;
}
