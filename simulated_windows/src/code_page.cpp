#include "code_page.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace simulated_windows {
namespace {

// Bytes 0x80-0x9F of Windows-1252; the rest of the code page is Latin-1.
constexpr std::array<char16_t, 32> Bytes80To9F = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

struct BestFit {
    char16_t unit;
    // cppcheck-suppress unusedStructMember ; read through lower_bound's result, which cppcheck misses
    unsigned char byte;
};

constexpr BestFit BestFits[] = {
#include "code_page_1252_best_fit.inc"
};

static_assert(std::is_sorted(std::begin(BestFits), std::end(BestFits),
                             [](const BestFit& a, const BestFit& b) { return a.unit < b.unit; }),
              "the best-fit table is searched by halves");

char16_t ByteToUnit(unsigned char byte)
{
    return byte >= 0x80 && byte < 0xA0 ? Bytes80To9F[byte - 0x80] : char16_t{byte};
}

char UnitToByte(char16_t unit)
{
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
        return static_cast<char>(unit);
    }
    const auto control = std::find(Bytes80To9F.begin(), Bytes80To9F.end(), unit);
    if (control != Bytes80To9F.end()) {
        return static_cast<char>(0x80 + (control - Bytes80To9F.begin()));
    }
    const auto fit = std::lower_bound(std::begin(BestFits), std::end(BestFits), unit,
                                      [](const BestFit& entry, char16_t u) { return entry.unit < u; });
    if (fit != std::end(BestFits) && fit->unit == unit) {
        return static_cast<char>(fit->byte);
    }
    return '?';
}

} // namespace

std::u16string AnsiToUtf16(std::string_view ansi)
{
    std::u16string text(ansi.size(), u'\0');
    std::transform(ansi.begin(), ansi.end(), text.begin(),
                   [](char c) { return ByteToUnit(static_cast<unsigned char>(c)); });
    return text;
}

std::string Utf16ToAnsi(std::u16string_view text)
{
    std::string ansi(text.size(), '\0');
    std::transform(text.begin(), text.end(), ansi.begin(), UnitToByte);
    return ansi;
}

char16_t UpcaseBeyondAscii(char16_t unit)
{
    if ((unit >= 0xE0 && unit <= 0xFE && unit != 0xF7) || (unit >= 0x3B1 && unit <= 0x3CB && unit != 0x3C2) ||
        (unit >= 0x430 && unit <= 0x44F)) {
        return static_cast<char16_t>(unit - 0x20);
    }
    if (unit == 0xFF) {
        return 0x178;
    }
    if (unit >= 0x450 && unit <= 0x45F) {
        return static_cast<char16_t>(unit - 0x50);
    }
    // Latin Extended-A pairs capitals with the small letter that follows, in two runs that start
    // on an even and an odd code point.
    const bool evenRun = (unit >= 0x100 && unit <= 0x137) || (unit >= 0x14A && unit <= 0x177);
    const bool oddRun = (unit >= 0x139 && unit <= 0x148) || (unit >= 0x179 && unit <= 0x17E);
    if ((evenRun && (unit % 2) == 1) || (oddRun && (unit % 2) == 0)) {
        return static_cast<char16_t>(unit - 1);
    }
    return unit;
}

ByteOrderMark ReadByteOrderMark(std::string_view bytes)
{
    if (bytes.substr(0, 2) == "\xFF\xFE") {
        return {ByteOrderMark::Utf16Le, 2};
    }
    if (bytes.substr(0, 2) == "\xFE\xFF") {
        return {ByteOrderMark::Utf16Be, 2};
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        return {ByteOrderMark::Utf8, 3};
    }
    return {};
}

std::u16string Utf8ToUtf16(std::string_view utf8)
{
    std::u16string text;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t extra = lead < 0x80                   ? 0
                                  : lead >= 0xC2 && lead < 0xE0 ? 1
                                  : lead >= 0xE0 && lead < 0xF0 ? 2
                                  : lead >= 0xF0 && lead < 0xF5 ? 3
                                                                : 4;
        char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
        bool valid = extra < 4 && i + extra < utf8.size();
        for (std::size_t k = 1; valid && k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        const char32_t least[] = {0, 0x80, 0x800, 0x10000};
        valid = valid && c >= least[extra] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
        if (!valid) {
            text.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            text.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            text.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            text.push_back(static_cast<char16_t>(c));
        }
        i += 1 + extra;
    }
    return text;
}

// UTF-16LE is the host's own char16_t, so both directions are a copy.
static_assert(std::endian::native == std::endian::little);

std::u16string Utf16FromBytes(const unsigned char* bytes, std::size_t size)
{
    std::u16string text(size / 2, u'\0');
    if (!text.empty()) {
        std::memcpy(text.data(), bytes, text.size() * 2);
    }
    return text;
}

Bytes Utf16ToBytes(std::u16string_view text)
{
    Bytes bytes(text.size() * 2);
    if (!bytes.empty()) {
        std::memcpy(bytes.data(), text.data(), bytes.size());
    }
    return bytes;
}

std::string QuotedText(std::u16string_view text)
{
    const std::size_t shown = 24;
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size() && i < shown; ++i) {
        const char16_t c = text[i];
        out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    }
    if (text.size() > shown) {
        out += "...";
    }
    return out + "\"";
}

} // namespace simulated_windows
