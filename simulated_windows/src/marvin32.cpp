#include "marvin32.h"

#include <bit>

namespace simulated_windows {
namespace {

struct State {
    std::uint32_t low;
    std::uint32_t high;

    // One mixing round over the 32-bit word just added to `low`.
    void Mix()
    {
        high ^= low;
        low = std::rotl(low, 20);
        low += high;
        high = std::rotl(high, 9);
        high ^= low;
        low = std::rotl(low, 27);
        low += high;
        high = std::rotl(high, 19);
    }
};

std::uint32_t LittleEndian(std::span<const unsigned char> bytes)
{
    std::uint32_t word = 0;
    for (std::size_t i = bytes.size(); i-- > 0;) {
        word = (word << 8) | bytes[i];
    }
    return word;
}

} // namespace

std::uint64_t Marvin32(std::span<const unsigned char> data, std::uint64_t seed)
{
    State state{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32)};
    while (data.size() >= 4) {
        state.low += LittleEndian(data.first(4));
        state.Mix();
        data = data.subspan(4);
    }
    // The last 0 to 3 bytes, then a 0x80 byte, fill one more word; a word of zeros follows.
    state.low += LittleEndian(data) | (0x80U << (8 * data.size()));
    state.Mix();
    state.Mix();
    return (std::uint64_t{state.high} << 32) | state.low;
}

} // namespace simulated_windows
