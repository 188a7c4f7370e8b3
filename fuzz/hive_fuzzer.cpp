// Saved hives over arbitrary bytes: hivex and the platform behind it never crash, hang or read
// out of bounds, and a hive is either loaded or refused with one line "<file>: <reason>".
#include "simulated_windows/hive_file.h"
#include "simulated_windows/reg_file.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace sim = simulated_windows;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!sim::IsHive(bytes)) {
        return -1; // not a hive: the .reg fuzzer's ground, and no use to the corpus
    }
    sim::Registry registry;
    try {
        sim::ImportSystemHive(registry, bytes, "fuzz.hiv", "");
    } catch (const sim::RefusedInput& error) {
        const std::string message = error.what();
        if (message != "fuzz.hiv: " + error.Reason() || error.Line() != 0 || error.Reason().empty() ||
            message.find_first_of("\r\n") != std::string::npos) {
            std::abort();
        }
    }
    return 0;
}
