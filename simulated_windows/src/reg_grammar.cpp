#include "reg_grammar.h"

#include "simulated_windows/win32_api.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>
#include <utility>

namespace simulated_windows {
namespace {

const std::u16string_view Version5Header = u"Windows Registry Editor Version 5.00";
const std::u16string_view Version4Header = u"REGEDIT4";
const std::u16string_view Version31Header = u"REGEDIT";

bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

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

void RequireEnd(const RegFileCursor& cursor, LineRest& text, const char* reason)
{
    if (!text.AtEnd()) {
        cursor.Fail(reason);
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
void ReadQuoted(const RegFileCursor& cursor, LineRest& text, Text& into, const char* unterminated)
{
    constexpr bool isName = std::is_same_v<Text, std::u16string>;
    const auto tooLong = [&](std::u16string_view more) {
        if constexpr (isName) {
            cursor.Fail(ValueNameTooLong(into + std::u16string(more)));
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
            cursor.Fail(unterminated);
        }
        char16_t c = text.rest.front();
        text.rest.remove_prefix(1);
        if (c == u'"') {
            return;
        }
        if (c == u'\\') {
            if (text.rest.empty()) {
                cursor.Fail(unterminated);
            }
            c = text.rest.front();
            text.rest.remove_prefix(1);
            if (c == u'0') {
                cursor.Fail("\"\\0\" cannot stand in a string");
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

Bytes ReadDword(const RegFileCursor& cursor, LineRest& text)
{
    text.SkipBlanks(); // regedit takes "dword:  00000008"
    const auto number = ReadHexNumber(text);
    if (!number || !text.AtEnd()) {
        cursor.Fail("dword value must be 1 to 8 hex digits");
    }
    return Bytes{static_cast<unsigned char>(*number), static_cast<unsigned char>(*number >> 8),
                 static_cast<unsigned char>(*number >> 16), static_cast<unsigned char>(*number >> 24)};
}

std::uint32_t ReadHexType(const RegFileCursor& cursor, LineRest& text)
{
    const auto type = ReadHexNumber(text);
    if (!type || !text.TakeIgnoringCase(u"):")) {
        cursor.Fail("value type must be hex(N): with N 1 to 8 hex digits");
    }
    return *type;
}

// Comma-separated bytes of one or two hex digits. A backslash at the end of a line carries the
// list on to the next line that is not blank or a comment.
Bytes ReadHexBytes(RegFileCursor& cursor, LineRest& text)
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
                cursor.Fail("expected \",\" before the line continuation");
            }
            text.rest.remove_prefix(1);
            RequireEnd(cursor, text, "unexpected text after the line continuation");
            text.rest = cursor.ContinuedLine();
            continue;
        }
        const std::size_t end = text.rest.find_first_of(u", \t;\\");
        const std::u16string_view item = text.rest.substr(0, end);
        if (item.empty() || item.size() > 2 || HexDigit(item[0]) < 0 ||
            (item.size() == 2 && HexDigit(item[1]) < 0)) {
            cursor.Fail("invalid hex byte " + QuotedText(item));
        }
        bytes.push_back(static_cast<unsigned char>(
            item.size() == 1 ? HexDigit(item[0]) : HexDigit(item[0]) * 16 + HexDigit(item[1])));
        text.rest.remove_prefix(item.size());
        text.SkipBlanks();
        afterComma = !text.rest.empty() && text.rest.front() == u',';
        if (afterComma) {
            text.rest.remove_prefix(1);
        } else if (!text.rest.empty() && text.rest.front() != u'\\' && text.rest.front() != u';') {
            cursor.Fail("expected \",\" between hex bytes");
        }
    }
}

// The data after "=": a string, "-", dword: or hex data.
void ReadValueData(RegFileCursor& cursor, LineRest& text, RegFileFormat format, RegValueLine& value)
{
    if (!text.rest.empty() && text.rest.front() == u'"') {
        text.rest.remove_prefix(1);
        value.type = REG_SZ;
        // Room for the rest of the line and a terminator: the string grows no further.
        value.data.reserve(sizeof(char16_t) * (text.rest.size() + 1));
        ReadQuoted(cursor, text, value.data, "string lacks its closing quote");
        RequireEnd(cursor, text, "unexpected text after the string");
        value.data.insert(value.data.end(), sizeof(char16_t), 0);
    } else if (!text.rest.empty() && text.rest.front() == u'-') {
        text.rest.remove_prefix(1);
        RequireEnd(cursor, text, "unexpected text after \"-\"");
        value.remove = true;
    } else if (text.TakeIgnoringCase(u"dword:")) {
        value.type = REG_DWORD;
        value.data = ReadDword(cursor, text);
    } else if (text.TakeIgnoringCase(u"hex:")) {
        value.type = REG_BINARY;
        value.data = ReadHexBytes(cursor, text);
    } else if (text.TakeIgnoringCase(u"hex(")) {
        value.type = ReadHexType(cursor, text);
        value.data = ReadHexBytes(cursor, text);
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
        cursor.Fail("unrecognised value data " + QuotedText(text.rest));
    }
}

} // namespace

RegFileCursor::RegFileCursor(std::string_view fileBytes, std::string fileName, ImportProgress progress)
    : fileName_(std::move(fileName)), bytes_(fileBytes), progress_(std::move(progress))
{
    // A registry file is UTF-16LE behind its mark or else text of the code page, where a UTF-8
    // mark is three characters that spoil the header.
    const ByteOrderMark mark = ReadByteOrderMark(bytes_);
    utf16_ = mark.encoding == ByteOrderMark::Utf16Le;
    if (utf16_) {
        bytes_.remove_prefix(mark.size);
        markBytes_ = mark.size;
        if (bytes_.size() % 2 != 0) {
            Fail(LastLineNumber(), "the file ends in the middle of a UTF-16 character");
        }
    }
    if (bytes_.empty()) {
        Fail(1, "not a registry file: the file is empty");
    }
}

std::optional<std::u16string_view> RegFileCursor::NextLine(bool hexData)
{
    if (cut_) {
        // The rest of the last line, which the importer had no use for.
        bool nul = false;
        position_ = FindLineEnd(position_, Units(), nul, true);
        if (lineNumber_ > 1 && nul) {
            Fail("NUL character in the text");
        }
        cut_ = false;
        position_ = PastLineEnd(position_);
    }
    if (position_ >= Units()) {
        return std::nullopt;
    }
    GiveBack(position_);
    bool nul = false;
    position_ = Decode(position_, hexData, nul);
    if (!cut_) {
        position_ = PastLineEnd(position_);
    }
    ++lineNumber_;
    // The first line is the header, which a NUL can only spoil; text holds none.
    if (lineNumber_ > 1 && nul) {
        Fail("NUL character in the text");
    }
    return std::u16string_view(line_);
}

std::u16string_view RegFileCursor::ContinuedLine()
{
    const unsigned continued = lineNumber_;
    while (const auto line = NextLine(true)) {
        LineRest text{*line};
        if (text.AtEnd()) {
            continue;
        }
        if (HexDigit(text.rest.front()) < 0) {
            Fail(continued, "the line continuation is not followed by hex data");
        }
        return text.rest;
    }
    return {};
}

void RegFileCursor::Fail(unsigned line, const std::string& reason) const
{
    throw RefusedInput(fileName_, line, reason);
}

// Tells the caller, every so often, how much of the file lies behind the cursor for good.
void RegFileCursor::GiveBack(std::size_t position)
{
    const std::size_t every = std::size_t{16} << 20;
    const std::size_t done = markBytes_ + (utf16_ ? 2 * position : position);
    if (progress_ && done >= reported_ + every) {
        progress_(done);
        reported_ = done;
    }
}

char16_t RegFileCursor::Unit(std::size_t i) const
{
    if (!utf16_) {
        return static_cast<unsigned char>(bytes_[i]); // line ends are ASCII in the code page
    }
    return static_cast<char16_t>(static_cast<unsigned char>(bytes_[2 * i]) |
                                 (static_cast<unsigned char>(bytes_[2 * i + 1]) << 8));
}

std::size_t RegFileCursor::PastLineEnd(std::size_t end) const
{
    if (end >= Units()) {
        return end;
    }
    return Unit(end) == u'\r' && end + 1 < Units() && Unit(end + 1) == u'\n' ? end + 2 : end + 1;
}

// How much of the line at `from` the importer can use, told by its first characters; `mark` when
// a line cut short ends in a NUL, which no line holds, so that the importer refuses what it would
// have refused whole.
std::size_t RegFileCursor::DecodeLimit(std::size_t from, bool hexData, bool& mark) const
{
    mark = true;
    if (lineNumber_ == 0) {
        return HeaderLimit;
    }
    std::size_t first = from;
    while (first < Units() && IsBlank(Unit(first))) {
        ++first;
    }
    const char16_t c = first < Units() ? Unit(first) : u'\n';
    if (c == u'[') {
        return first - from + KeyLineLimit;
    }
    mark = false;
    if (c == u'@' || c == u'"' || (hexData && HexDigit(c) >= 0)) {
        return std::u16string::npos;
    }
    return c == u'\r' || c == u'\n' ? 0 : first - from + 1;
}

// Decodes the line at `from`, as far as the importer can use it, into line_, and returns where the
// decoding stopped: the line's end, or where it was cut short (cut_). `nul` tells whether the part
// read holds a NUL. A whole line is found first, so that its room is taken once: it never costs
// more than its UTF-16 and the pages of it still to decode.
std::size_t RegFileCursor::Decode(std::size_t from, bool hexData, bool& nul)
{
    bool mark = false;
    const std::size_t limit = DecodeLimit(from, hexData, mark);
    const std::size_t stop = limit >= Units() - from ? Units() : from + limit + 1;
    const std::size_t end = FindLineEnd(from, stop, nul, false);
    cut_ = end - from > limit;
    const std::size_t to = cut_ ? from + limit : end;
    if (line_.capacity() > 2 * (to - from) + Chunk) {
        std::u16string().swap(line_); // a long line's room goes with it
    }
    line_.clear();
    line_.reserve(to - from + 1);
    for (std::size_t at = from; at < to;) {
        const std::size_t next = std::min(to, at + Chunk);
        Append(at, next);
        at = next;
        GiveBack(at);
    }
    if (cut_ && mark) {
        if (lineNumber_ > 0 && line_.find(u']') == std::u16string::npos) {
            Fail(lineNumber_ + 1,
                 "key path longer than Windows allows (512 names of at most 255 characters)");
        }
        line_.push_back(u'\0');
    }
    return to;
}

// The first line end in [from, stop), or stop; `giveBack` what lies behind on the way.
std::size_t RegFileCursor::FindLineEnd(std::size_t from, std::size_t stop, bool& nul, bool giveBack)
{
    for (std::size_t at = from; at < stop;) {
        const std::size_t next = std::min(stop, at + Chunk);
        if (!utf16_) {
            const std::string_view text = bytes_.substr(at, next - at);
            const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
            nul = nul || text.substr(0, end).find('\0') != std::string_view::npos;
            if (end < text.size()) {
                return at + end;
            }
        } else {
            for (; at < next; ++at) {
                const char16_t unit = Unit(at);
                if (unit == u'\r' || unit == u'\n') {
                    return at;
                }
                nul = nul || unit == u'\0';
            }
        }
        at = next;
        if (giveBack) {
            GiveBack(at);
        }
    }
    return stop;
}

void RegFileCursor::Append(std::size_t from, std::size_t to)
{
    if (!utf16_) {
        line_ += AnsiToUtf16(bytes_.substr(from, to - from));
        return;
    }
    // The file's UTF-16LE is the host's own char16_t: it is copied as it stands.
    static_assert(std::endian::native == std::endian::little);
    const std::size_t size = line_.size();
    line_.resize(size + (to - from));
    std::memcpy(line_.data() + size, bytes_.data() + 2 * from, 2 * (to - from));
}

unsigned RegFileCursor::LastLineNumber() const
{
    unsigned line = 1;
    for (std::size_t i = 0; i < Units(); ++i) {
        if (Unit(i) == u'\n' || (Unit(i) == u'\r' && (i + 1 >= Units() || Unit(i + 1) != u'\n'))) {
            ++line;
        }
    }
    return line;
}

RegFileFormat ReadRegFileHeader(RegFileCursor& cursor)
{
    LineRest text{cursor.NextLine().value_or(u"")};
    text.SkipBlanks();
    std::u16string_view header = text.rest;
    while (!header.empty() && IsBlank(header.back())) {
        header.remove_suffix(1);
    }
    if (header == Version31Header) {
        cursor.Fail(1, "a Windows 3.1 registry file (\"REGEDIT\"), a format no current Windows exports: "
                       "export the keys again with regedit or reg export");
    }
    if (header != Version5Header && header != Version4Header) {
        cursor.Fail(1, "not a registry file: the first line must be \"Windows Registry Editor Version 5.00\" "
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

void ReadKeyLine(const RegFileCursor& cursor, std::u16string_view line, RegKeyLine& into)
{
    LineRest text{line};
    text.SkipBlanks();
    text.rest.remove_prefix(1); // the "["
    const std::size_t close = text.rest.rfind(u']');
    if (close == std::u16string_view::npos) {
        cursor.Fail("key name lacks its closing \"]\"");
    }
    LineRest after{text.rest.substr(close + 1)};
    RequireEnd(cursor, after, "unexpected text after the key name");
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
        cursor.Fail("unknown root key " + QuotedText(rootName));
    }
    into.root = *root;
    SplitKeyPath(path, into.path);
    if (!into.path.valid || (slash != std::u16string_view::npos && into.path.names.empty())) {
        cursor.Fail("empty key name in " + QuotedText(name));
    }
    if (into.remove && into.path.names.empty()) {
        cursor.Fail("a root key cannot be deleted");
    }
}

RegValueLine ReadValueLine(RegFileCursor& cursor, std::u16string_view line, RegFileFormat format)
{
    LineRest text{line};
    text.SkipBlanks();
    RegValueLine value;
    const bool named = text.rest.front() == u'"';
    text.rest.remove_prefix(1); // the "@" or the opening quote
    if (named) {
        ReadQuoted(cursor, text, value.name, "value name lacks its closing quote");
    }
    text.SkipBlanks();
    if (text.rest.empty() || text.rest.front() != u'=') {
        cursor.Fail("expected \"=\" after the value name");
    }
    text.rest.remove_prefix(1);
    text.SkipBlanks();
    ReadValueData(cursor, text, format, value);
    return value;
}

} // namespace simulated_windows
