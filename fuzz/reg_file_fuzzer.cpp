// The .reg loader over arbitrary bytes: it never crashes, hangs or reads out of bounds, and every
// refusal is one line "<file>:<line>: <reason>".
#include "reg_file.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace sim = simulated_windows;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sim::Registry registry;
    try {
        sim::ImportRegFile(registry, std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.reg");
    } catch (const sim::RefusedInput& error) {
        const std::string message = error.what();
        const std::string expected = "fuzz.reg:" + std::to_string(error.Line()) + ": " + error.Reason();
        // A line number within the file (which has at most one line per byte), a reason, one line.
        if (message != expected || error.Line() == 0 || error.Line() > size + 1 || error.Reason().empty() ||
            message.find_first_of("\r\n") != std::string::npos) {
            std::abort();
        }
    }
    return 0;
}
