#include "support/colliding_ids.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <unordered_map>

namespace test_support {
namespace {

constexpr std::uint64_t Prime = 1099511628211ULL;
constexpr std::uint64_t LowBits = (std::uint64_t{1} << 24) - 1;
constexpr std::size_t Blocks = 24;
constexpr const char* Prefix = "ROOT\\X\\";

std::uint64_t Step(std::uint64_t state, char c)
{
    return ((state ^ static_cast<unsigned char>(c)) * Prime) & LowBits;
}

// The low bits of the state after a character depend on those before it alone. So two blocks of
// four characters that take one state to the same state are interchangeable wherever they stand:
// a choice between two such blocks, made 24 times over, gives 2^24 IDs with one low state.
using Pair = std::array<std::string, 2>;

std::array<Pair, Blocks> MakeBlocks()
{
    static constexpr std::string_view Alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    constexpr std::size_t Choices = 36 * 36 * 36 * 36;
    std::uint64_t state = 14695981039346656037ULL & LowBits;
    for (const char* c = Prefix; *c != '\0'; ++c) {
        state = Step(state, *c);
    }
    std::array<Pair, Blocks> blocks;
    for (Pair& pair : blocks) {
        // Blocks in a scattered order meet two of one state after some 5,000 (the birthday bound
        // of 2^24 states).
        std::unordered_map<std::uint64_t, std::string> seen;
        for (std::size_t i = 0; pair[0].empty(); ++i) {
            std::size_t choice = (i * 7919 + 104729) % Choices;
            std::string block;
            std::uint64_t next = state;
            for (int c = 0; c < 4; ++c, choice /= 36) {
                block += Alphabet[choice % 36];
                next = Step(next, block.back());
            }
            const auto [it, added] = seen.try_emplace(next, block);
            if (!added) {
                pair = {it->second, block};
                state = next;
            }
        }
    }
    return blocks;
}

} // namespace

std::string CollidingInstanceId(std::size_t index)
{
    static const std::array<Pair, Blocks> blocks = MakeBlocks();
    std::string id = Prefix;
    for (std::size_t i = 0; i < Blocks; ++i) {
        id += blocks[i][index >> i & 1];
    }
    return id;
}

} // namespace test_support
