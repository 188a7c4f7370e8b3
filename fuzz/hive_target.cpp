// What the hive fuzzers check of every input, whatever made it: the recovery, hivex and the
// platform behind them never crash, hang or read out of bounds, a recovered hive is never larger
// than its inputs, and a hive is either loaded or refused with one line "<file>: <reason>" naming
// the hive or one of its logs.
//
// What the loader asks of hivex is counted, by standing in for hivex's own functions: it lists the
// subkeys of a key at most once (the root's also to find Select and the control set), and takes no
// more value data than the file holds, so that no shape of the hive makes it read a cell again and
// again.
#include "hive_target.h"

#include "hive_file.h"
#include "regf_layout.h"

#include <hivex.h>

#include <cstdlib>
#include <dlfcn.h>
#include <map>
#include <string>

namespace sim = simulated_windows;
namespace regf = sim::regf;
using regf::FirstBin;

namespace hive_target {

std::uint32_t Get32(const std::uint8_t* data, std::size_t at)
{
    return regf::Read32({reinterpret_cast<const char*>(data) + at, 4}, 0);
}

void Put32(std::uint8_t* data, std::size_t at, std::uint32_t value)
{
    regf::Write32({reinterpret_cast<char*>(data) + at, 4}, 0, value);
}

void FixChecksum(std::uint8_t* data, std::size_t size, std::size_t at)
{
    if (at + regf::SectorSize <= size) {
        Put32(data + at, regf::base::Checksum,
              regf::BaseBlockChecksum({reinterpret_cast<const char*>(data) + at, size - at}));
    }
}

Input Split(std::string_view bytes)
{
    Input input;
    const std::uint32_t binsSize =
        bytes.size() >= regf::base::BinsSize + 4 ? regf::Read32(bytes, regf::base::BinsSize) : 0;
    input.hive =
        bytes.substr(0, std::min<std::uint64_t>(bytes.size(), std::uint64_t{regf::BaseBlockSize} + binsSize));
    const std::string_view rest = bytes.substr(input.hive.size());
    std::size_t second = regf::SectorSize;
    while (second < rest.size() && rest.substr(second, 4) != regf::Signature) {
        second += regf::SectorSize;
    }
    if (!rest.empty()) {
        input.logs.push_back({"fuzz.LOG1", rest.substr(0, second)});
    }
    if (second < rest.size()) {
        input.logs.push_back({"fuzz.LOG2", rest.substr(second)});
    }
    return input;
}

} // namespace hive_target

namespace {

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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!sim::IsHive(bytes)) {
        return -1; // not a hive: the .reg fuzzer's ground, and no use to the corpus
    }
    const auto [hive, logs] = hive_target::Split(bytes);
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
    const hive_node_h root = mounted.size() >= regf::base::RootCell + 4
                                 ? FirstBin + hive_target::Get32(base, regf::base::RootCell)
                                 : 0;
    // Each key's subkeys are listed once, for the copy; the root's also to find Select, which tells
    // a SYSTEM hive, and the control set Select\Current names.
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
