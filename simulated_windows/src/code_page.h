// The text the platform reads and stores: the ANSI code page of the simulated machine,
// Windows-1252, UTF-8 and byte-order marks, their conversions to and from the UTF-16 that the
// registry stores, and the character classes its readers share.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace simulated_windows {

using Bytes = std::vector<unsigned char>;

// Every byte maps to one UTF-16 code unit; the five bytes 1252 leaves undefined map to the C1
// controls of the same number, as MultiByteToWideChar does.
std::u16string AnsiToUtf16(std::string_view ansi);

// One byte per code unit: the character itself where the code page has it, else Windows'
// best-fit character (U+03A9 gives 'O'), else '?'. Surrogates are converted one unit at a time,
// so a character outside the BMP gives "??", as WideCharToMultiByte does under Wine.
std::string Utf16ToAnsi(std::u16string_view text);

// The upper case Windows compares registry names by, for ASCII, Latin-1, Latin Extended-A,
// Greek and Cyrillic; other code units compare as they are. ASCII, nearly every name's every
// character, is decided inline.
char16_t UpcaseBeyondAscii(char16_t unit);
inline char16_t UpcaseForCompare(char16_t unit)
{
    if (unit < 0x80) {
        return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 0x20) : unit;
    }
    return UpcaseBeyondAscii(unit);
}

// The value of an ASCII hex digit, in either case, or -1: no other character counts as one.
inline int HexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if ((c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')) {
        return (c | 0x20) - u'a' + 10;
    }
    return -1;
}

// The encoding that a byte-order mark at the start of a file names, and the mark's length in bytes.
struct ByteOrderMark {
    enum Encoding { None, Utf16Le, Utf16Be, Utf8 } encoding = None;
    std::size_t size = 0;
};
ByteOrderMark ReadByteOrderMark(std::string_view bytes);

// UTF-8, as hivex gives names, to UTF-16; what is not UTF-8 becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

// Converts between a UTF-16LE byte image and code units. An odd last byte is dropped.
std::u16string Utf16FromBytes(const unsigned char* bytes, std::size_t size);
Bytes Utf16ToBytes(std::u16string_view text);

// A short, printable rendering of file text for a fault's reason: it must stay on one line.
std::string QuotedText(std::u16string_view text);

} // namespace simulated_windows
