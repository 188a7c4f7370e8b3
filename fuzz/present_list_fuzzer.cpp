// Presence lists over arbitrary bytes: the reader never crashes, hangs or reads out of bounds,
// every refusal is one line "<file>:<line>: <reason>" (or "<file>: <reason>" for an empty list),
// and a list of ASCII text means the same in each encoding Windows writes: UTF-8, and UTF-16 of
// either byte order, with or without a byte-order mark.
#include "present_list.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace sim = simulated_windows;

namespace {

struct Outcome {
    std::optional<sim::PresentDevices> present;
    std::string refusal;
};

Outcome Read(const std::string& bytes, std::size_t lines)
{
    try {
        return {sim::ReadPresentDevices(bytes, "fuzz.csv"), ""};
    } catch (const sim::RefusedInput& error) {
        const std::string message = error.what();
        const std::string expected = error.Line() == 0
                                         ? "fuzz.csv: " + error.Reason()
                                         : "fuzz.csv:" + std::to_string(error.Line()) + ": " + error.Reason();
        if (message != expected || error.Line() > lines + 1 || error.Reason().empty() ||
            message.find_first_of("\r\n") != std::string::npos) {
            std::abort();
        }
        return {std::nullopt, message};
    }
}

std::string Utf16(const std::string& ascii, bool bigEndian, bool mark)
{
    std::string bytes = mark ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
    for (const char c : ascii) {
        bytes += bigEndian ? '\0' : c;
        bytes += bigEndian ? c : '\0';
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const Outcome outcome = Read(bytes, size);
    // ASCII text without NULs, not starting with what reads as a byte-order mark.
    if (bytes.empty() || bytes.find('\0') != std::string::npos ||
        std::any_of(bytes.begin(), bytes.end(),
                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        return 0;
    }
    // The words of the text, as IDs to ask about.
    std::vector<std::u16string> words;
    for (std::size_t start = 0; start < bytes.size() && words.size() < 16;) {
        const std::size_t end = std::min(bytes.find_first_of(",\r\n\" \t", start), bytes.size());
        if (end > start) {
            words.push_back(sim::InstanceIdKey(std::u16string(bytes.begin() + start, bytes.begin() + end)));
        }
        start = end + 1;
    }
    for (const bool bigEndian : {false, true}) {
        for (const bool mark : {false, true}) {
            const Outcome other = Read(Utf16(bytes, bigEndian, mark), size);
            if (other.refusal != outcome.refusal ||
                other.present.has_value() != outcome.present.has_value()) {
                std::abort();
            }
            for (const auto& word : words) {
                if (outcome.present && outcome.present->Contains(word) != other.present->Contains(word)) {
                    std::abort();
                }
            }
        }
    }
    return 0;
}
