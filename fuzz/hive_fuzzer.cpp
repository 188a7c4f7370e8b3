// Saved hives and the transaction logs beside them, over arbitrary bytes: the recovery, hivex and
// the platform behind them never crash, hang or read out of bounds, a recovered hive is never
// larger than its inputs, and a hive is either loaded or refused with one line "<file>: <reason>"
// naming the hive or one of its logs. The input is the hive up to where its base block says its
// bins end, then LOG1, then, from the first "regf" after LOG1's first sector on a 512-byte
// boundary, LOG2: a dirty hive and its logs concatenated, as scripts/fuzz seeds them.
#include "simulated_windows/hive_file.h"
#include "simulated_windows/hive_log.h"
#include "simulated_windows/reg_file.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace sim = simulated_windows;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!sim::IsHive(bytes)) {
        return -1; // not a hive: the .reg fuzzer's ground, and no use to the corpus
    }
    std::uint32_t binsSize = 0;
    if (bytes.size() >= 44) {
        std::memcpy(&binsSize, bytes.data() + 40, 4);
    }
    const std::string_view hive = bytes.substr(0, std::min<std::uint64_t>(bytes.size(), 4096ULL + binsSize));
    const std::string_view rest = bytes.substr(hive.size());
    std::size_t second = 512;
    while (second < rest.size() && rest.substr(second, 4) != "regf") {
        second += 512;
    }
    std::vector<sim::HiveLog> logs;
    if (!rest.empty()) {
        logs.push_back({"fuzz.LOG1", rest.substr(0, second)});
    }
    if (second < rest.size()) {
        logs.push_back({"fuzz.LOG2", rest.substr(second)});
    }
    sim::Registry registry;
    try {
        const sim::RecoveredHive recovered = sim::RecoverHive(hive, logs);
        if (recovered.bytes.size() > size) {
            std::abort();
        }
        sim::MountSystemHive(registry, recovered.bytes.empty() ? hive : recovered.bytes, "fuzz.hiv");
    } catch (const sim::RefusedInput& error) {
        const std::string message = error.what();
        const std::string source = message.substr(0, message.find(": "));
        if ((source != "fuzz.hiv" && source != "fuzz.LOG1" && source != "fuzz.LOG2") ||
            message != source + ": " + error.Reason() || error.Line() != 0 || error.Reason().empty() ||
            message.find_first_of("\r\n") != std::string::npos) {
            std::abort();
        }
    }
    return 0;
}
