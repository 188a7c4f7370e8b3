#include "reg_grammar.h"

#include "simulated_windows/win32_api.h"

#include <algorithm>
#include <optional>
#include <type_traits>

namespace simulated_windows {
namespace {

const std::u16string_view Version5Header = u"Windows Registry Editor Version 5.00";
const std::u16string_view Version4Header = u"REGEDIT4";
const std::u16string_view Version31Header = u"REGEDIT";

// The rest of one line, read from the front.
struct LineRest {
    std::u16string_view rest;

    void SkipBlanks()
    {
        while (!rest.empty() && IsBlank(rest.front())) {
            rest.remove_prefix(1);
        }
    }
    // Whether only blanks, or blanks and a comment, remain.
    bool AtEnd()
    {
        SkipBlanks();
        return rest.empty() || rest.front() == u';';
    }
    bool TakeIgnoringCase(std::u16string_view word)
    {
        if (rest.size() < word.size() || !NamesEqual(rest.substr(0, word.size()), word)) {
            return false;
        }
        rest.remove_prefix(word.size());
        return true;
    }
};

void RequireEnd(const RegLineReader& reader, LineRest& text, const char* reason)
{
    if (!text.AtEnd()) {
        reader.Fail(reason);
    }
}

// A quoted name's code units, or a quoted string's UTF-16LE bytes (the registry's, on this host).
void Append(std::u16string& out, std::u16string_view units)
{
    out.append(units);
}
void Append(Bytes& out, std::u16string_view units)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(units.data());
    out.insert(out.end(), bytes, bytes + units.size() * sizeof(char16_t));
}

// Reads up to the closing quote, resolving the escapes regedit writes: \\ \" and, as Wine writes
// them, \n and \r. regedit refuses \0; any other escaped character stands for itself. A value's
// name has at most MaxValueNameLength characters: a longer one is refused before it is read whole.
template <class Text>
void ReadQuoted(const RegLineReader& reader, LineRest& text, Text& into, const char* unterminated)
{
    constexpr bool isName = std::is_same_v<Text, std::u16string>;
    const auto tooLong = [&](std::u16string_view more) {
        if constexpr (isName) {
            reader.Fail(ValueNameTooLong(into + std::u16string(more)));
        }
    };
    while (true) {
        // Plain text up to the next quote or escape goes in whole.
        const std::size_t plain = std::min(text.rest.find_first_of(u"\"\\"), text.rest.size());
        if (isName && plain > MaxValueNameLength - into.size()) {
            tooLong(text.rest.substr(0, std::min<std::size_t>(plain, 32)));
        }
        Append(into, text.rest.substr(0, plain));
        text.rest.remove_prefix(plain);
        if (text.rest.empty()) {
            reader.Fail(unterminated);
        }
        char16_t c = text.rest.front();
        text.rest.remove_prefix(1);
        if (c == u'"') {
            return;
        }
        if (c == u'\\') {
            if (text.rest.empty()) {
                reader.Fail(unterminated);
            }
            c = text.rest.front();
            text.rest.remove_prefix(1);
            if (c == u'0') {
                reader.Fail("\"\\0\" cannot stand in a string");
            }
            c = c == u'n' ? u'\n' : c == u'r' ? u'\r' : c;
        }
        if (isName && into.size() == MaxValueNameLength) {
            tooLong({});
        }
        Append(into, std::u16string_view(&c, 1));
    }
}

// A number of 1 to 8 hex digits, or nullopt.
std::optional<std::uint32_t> ReadHexNumber(LineRest& text)
{
    std::uint32_t number = 0;
    std::size_t digits = 0;
    while (!text.rest.empty() && HexDigit(text.rest.front()) >= 0 && digits <= 8) {
        number = (number << 4) | static_cast<std::uint32_t>(HexDigit(text.rest.front()));
        text.rest.remove_prefix(1);
        ++digits;
    }
    if (digits == 0 || digits > 8) {
        return std::nullopt;
    }
    return number;
}

Bytes ReadDword(const RegLineReader& reader, LineRest& text)
{
    text.SkipBlanks(); // regedit takes "dword:  00000008"
    const auto number = ReadHexNumber(text);
    if (!number || !text.AtEnd()) {
        reader.Fail("dword value must be 1 to 8 hex digits");
    }
    return Bytes{static_cast<unsigned char>(*number), static_cast<unsigned char>(*number >> 8),
                 static_cast<unsigned char>(*number >> 16), static_cast<unsigned char>(*number >> 24)};
}

std::uint32_t ReadHexType(const RegLineReader& reader, LineRest& text)
{
    const auto type = ReadHexNumber(text);
    if (!type || !text.TakeIgnoringCase(u"):")) {
        reader.Fail("value type must be hex(N): with N 1 to 8 hex digits");
    }
    return *type;
}

// The line that a line ending in a continuation ("\") carries on to: the next one that is not
// blank or a comment, from its first hex digit, or an empty view at the end of the file. Refuses,
// at the continued line, a continuation onto anything but hex data.
std::u16string_view ContinuedLine(RegLineReader& reader)
{
    const unsigned continued = reader.LineNumber();
    while (const auto line = reader.NextLine(true)) {
        LineRest text{*line};
        if (text.AtEnd()) {
            continue;
        }
        if (HexDigit(text.rest.front()) < 0) {
            reader.Fail(continued, "the line continuation is not followed by hex data");
        }
        return text.rest;
    }
    return {};
}

// Comma-separated bytes of one or two hex digits. A backslash at the end of a line carries the
// list on to the next line that is not blank or a comment.
Bytes ReadHexBytes(RegLineReader& reader, LineRest& text)
{
    Bytes bytes;
    bool afterComma = false;
    while (true) {
        text.SkipBlanks();
        if (text.rest.empty() || text.rest.front() == u';') {
            return bytes;
        }
        if (text.rest.front() == u'\\') {
            if (!bytes.empty() && !afterComma) {
                // regedit drops such a value as malformed: "01\" continues nothing.
                reader.Fail("expected \",\" before the line continuation");
            }
            text.rest.remove_prefix(1);
            RequireEnd(reader, text, "unexpected text after the line continuation");
            text.rest = ContinuedLine(reader);
            continue;
        }
        const std::size_t end = text.rest.find_first_of(u", \t;\\");
        const std::u16string_view item = text.rest.substr(0, end);
        if (item.empty() || item.size() > 2 || HexDigit(item[0]) < 0 ||
            (item.size() == 2 && HexDigit(item[1]) < 0)) {
            reader.Fail("invalid hex byte " + QuotedText(item));
        }
        bytes.push_back(static_cast<unsigned char>(
            item.size() == 1 ? HexDigit(item[0]) : HexDigit(item[0]) * 16 + HexDigit(item[1])));
        text.rest.remove_prefix(item.size());
        text.SkipBlanks();
        afterComma = !text.rest.empty() && text.rest.front() == u',';
        if (afterComma) {
            text.rest.remove_prefix(1);
        } else if (!text.rest.empty() && text.rest.front() != u'\\' && text.rest.front() != u';') {
            reader.Fail("expected \",\" between hex bytes");
        }
    }
}

// The data after "=": a string, "-", dword: or hex data.
void ReadValueData(RegLineReader& reader, LineRest& text, RegFileFormat format, RegValueLine& value)
{
    if (!text.rest.empty() && text.rest.front() == u'"') {
        text.rest.remove_prefix(1);
        value.type = REG_SZ;
        // Room for the rest of the line and a terminator: the string grows no further.
        value.data.reserve(sizeof(char16_t) * (text.rest.size() + 1));
        ReadQuoted(reader, text, value.data, "string lacks its closing quote");
        RequireEnd(reader, text, "unexpected text after the string");
        value.data.insert(value.data.end(), sizeof(char16_t), 0);
    } else if (!text.rest.empty() && text.rest.front() == u'-') {
        text.rest.remove_prefix(1);
        RequireEnd(reader, text, "unexpected text after \"-\"");
        value.remove = true;
    } else if (text.TakeIgnoringCase(u"dword:")) {
        value.type = REG_DWORD;
        value.data = ReadDword(reader, text);
    } else if (text.TakeIgnoringCase(u"hex:")) {
        value.type = REG_BINARY;
        value.data = ReadHexBytes(reader, text);
    } else if (text.TakeIgnoringCase(u"hex(")) {
        value.type = ReadHexType(reader, text);
        value.data = ReadHexBytes(reader, text);
        // REGEDIT4 files hold these strings in the ANSI code page; the registry keeps UTF-16.
        // Empty data stays empty, as regedit stores it.
        if (format == RegFileFormat::Version4 &&
            (value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ) && !value.data.empty()) {
            std::u16string units = AnsiToUtf16(
                std::string_view(reinterpret_cast<const char*>(value.data.data()), value.data.size()));
            if (units.empty() || units.back() != u'\0') {
                units.push_back(u'\0');
            }
            value.data = Utf16ToBytes(units);
        }
    } else {
        reader.Fail("unrecognised value data " + QuotedText(text.rest));
    }
}

} // namespace

RegFileFormat ReadRegFileHeader(RegLineReader& reader)
{
    LineRest text{reader.NextLine().value_or(u"")};
    text.SkipBlanks();
    std::u16string_view header = text.rest;
    while (!header.empty() && IsBlank(header.back())) {
        header.remove_suffix(1);
    }
    if (header == Version31Header) {
        reader.Fail(1, "a Windows 3.1 registry file (\"REGEDIT\"), a format no current Windows exports: "
                       "export the keys again with regedit or reg export");
    }
    if (header != Version5Header && header != Version4Header) {
        reader.Fail(1, "not a registry file: the first line must be \"Windows Registry Editor Version 5.00\" "
                       "or \"REGEDIT4\"");
    }
    return header == Version4Header ? RegFileFormat::Version4 : RegFileFormat::Version5;
}

RegLineKind KindOfLine(std::u16string_view line)
{
    LineRest text{line};
    text.SkipBlanks();
    if (text.rest.empty()) {
        return RegLineKind::Other;
    }
    const char16_t first = text.rest.front();
    if (first == u'[') {
        return RegLineKind::Key;
    }
    return first == u'@' || first == u'"' ? RegLineKind::Value : RegLineKind::Other;
}

void ReadKeyLine(const RegLineReader& reader, std::u16string_view line, RegKeyLine& into)
{
    LineRest text{line};
    text.SkipBlanks();
    text.rest.remove_prefix(1); // the "["
    const std::size_t close = text.rest.rfind(u']');
    if (close == std::u16string_view::npos) {
        reader.Fail("key name lacks its closing \"]\"");
    }
    LineRest after{text.rest.substr(close + 1)};
    RequireEnd(reader, after, "unexpected text after the key name");
    std::u16string_view name = text.rest.substr(0, close);
    into.remove = !name.empty() && name.front() == u'-';
    if (into.remove) {
        name.remove_prefix(1);
    }

    const std::size_t slash = name.find(u'\\');
    const std::u16string_view rootName = name.substr(0, slash);
    const std::u16string_view path =
        slash == std::u16string_view::npos ? std::u16string_view() : name.substr(slash + 1);
    const std::optional<RootKey> root = RootKeyNamed(rootName);
    if (!root) {
        reader.Fail("unknown root key " + QuotedText(rootName));
    }
    into.root = *root;
    SplitKeyPath(path, into.path);
    if (!into.path.valid || (slash != std::u16string_view::npos && into.path.names.empty())) {
        reader.Fail("empty key name in " + QuotedText(name));
    }
    if (into.remove && into.path.names.empty()) {
        reader.Fail("a root key cannot be deleted");
    }
}

RegValueLine ReadValueLine(RegLineReader& reader, std::u16string_view line, RegFileFormat format)
{
    LineRest text{line};
    text.SkipBlanks();
    RegValueLine value;
    const bool named = text.rest.front() == u'"';
    text.rest.remove_prefix(1); // the "@" or the opening quote
    if (named) {
        ReadQuoted(reader, text, value.name, "value name lacks its closing quote");
    }
    text.SkipBlanks();
    if (text.rest.empty() || text.rest.front() != u'=') {
        reader.Fail("expected \"=\" after the value name");
    }
    text.rest.remove_prefix(1);
    text.SkipBlanks();
    ReadValueData(reader, text, format, value);
    return value;
}

} // namespace simulated_windows
