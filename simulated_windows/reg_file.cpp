#include "simulated_windows/reg_file.h"

#include "simulated_windows/win32_api.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>

namespace simulated_windows {
namespace {

const std::u16string_view Version5Header = u"Windows Registry Editor Version 5.00";
const std::u16string_view Version4Header = u"REGEDIT4";
const std::u16string_view Version31Header = u"REGEDIT";

// Windows refuses longer key and value names (registry element size limits).
constexpr std::size_t MaxKeyNameLength = 255;
constexpr std::size_t MaxValueNameLength = 16383;

struct RootName {
    // cppcheck-suppress unusedStructMember ; compared in ReadKeyLine, which cppcheck misses
    std::u16string_view name;
    RootKey root;
};

const std::array<RootName, 10> RootNames = {{{u"HKEY_CLASSES_ROOT", RootKey::ClassesRoot},
                                             {u"HKCR", RootKey::ClassesRoot},
                                             {u"HKEY_CURRENT_USER", RootKey::CurrentUser},
                                             {u"HKCU", RootKey::CurrentUser},
                                             {u"HKEY_LOCAL_MACHINE", RootKey::LocalMachine},
                                             {u"HKLM", RootKey::LocalMachine},
                                             {u"HKEY_USERS", RootKey::Users},
                                             {u"HKU", RootKey::Users},
                                             {u"HKEY_CURRENT_CONFIG", RootKey::CurrentConfig},
                                             {u"HKCC", RootKey::CurrentConfig}}};

bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

int HexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

// A short, printable rendering of file text for an error message: it must stay on one line.
std::string Quoted(std::u16string_view text)
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

// Splits the file into lines and decodes each to UTF-16 as it is reached, keeping line numbers.
// Only the current line is ever decoded, so a large export is not held twice, and only as much of
// it as the importer can use, so that a long line costs at most its own UTF-16: a first line of more
// than HeaderLimit characters is no header; a key line is read no further than the longest key path
// Windows allows; and a line regedit passes over (one that begins with anything but "[", "@" or a
// quote, comments among them, unless it carries hex data on) no further than its first character.
// The file's pages behind the reader are given back every so often, within a long line too.
class LineReader {
  public:
    LineReader(std::string_view bytes, const std::string& fileName, const ImportProgress& progress)
        : fileName_(fileName), bytes_(bytes), progress_(progress)
    {
        utf16_ = bytes_.size() >= 2 && static_cast<unsigned char>(bytes_[0]) == 0xFF &&
                 static_cast<unsigned char>(bytes_[1]) == 0xFE;
        if (utf16_) {
            bytes_.remove_prefix(2);
            markBytes_ = 2;
            if (bytes_.size() % 2 != 0) {
                Fail(LastLineNumber(), "the file ends in the middle of a UTF-16 character");
            }
        }
        if (bytes_.empty()) {
            Fail(1, "not a registry file: the file is empty");
        }
    }

    unsigned LineNumber() const { return lineNumber_; }

    // The next line without its line end, or nullopt at the end of the file; `hexData` when the
    // line may carry hex data on from a line continuation. The view lasts until the next call.
    std::optional<std::u16string_view> Next(bool hexData = false)
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

    [[noreturn]] void Fail(unsigned line, const std::string& reason) const
    {
        throw RefusedInput(fileName_, line, reason);
    }
    [[noreturn]] void Fail(const std::string& reason) const { Fail(lineNumber_, reason); }

  private:
    // Longer than any header with its blanks.
    static constexpr std::size_t HeaderLimit = 4096;
    // "[-HKEY_CURRENT_CONFIG", then 512 names of at most 255 characters, each after a backslash, and "]".
    static constexpr std::size_t KeyLineLimit = 2 + 19 + MaxKeyDepth * (1 + MaxKeyNameLength) + 1;
    static constexpr std::size_t Chunk = std::size_t{1} << 20; // units of a long line at a time

    std::size_t Units() const { return utf16_ ? bytes_.size() / 2 : bytes_.size(); }
    // Tells the caller, every so often, how much of the file lies behind the reader for good.
    void GiveBack(std::size_t position)
    {
        const std::size_t every = std::size_t{16} << 20;
        const std::size_t done = markBytes_ + (utf16_ ? 2 * position : position);
        if (progress_ && done >= reported_ + every) {
            progress_(done);
            reported_ = done;
        }
    }
    char16_t Unit(std::size_t i) const
    {
        if (!utf16_) {
            return static_cast<unsigned char>(bytes_[i]); // line ends are ASCII in the code page
        }
        return static_cast<char16_t>(static_cast<unsigned char>(bytes_[2 * i]) |
                                     (static_cast<unsigned char>(bytes_[2 * i + 1]) << 8));
    }
    std::size_t PastLineEnd(std::size_t end) const
    {
        if (end >= Units()) {
            return end;
        }
        return Unit(end) == u'\r' && end + 1 < Units() && Unit(end + 1) == u'\n' ? end + 2 : end + 1;
    }
    // How much of the line at `from` the importer can use, told by its first characters; `mark`
    // when a line cut short ends in a NUL, which no line holds, so that the importer refuses what
    // it would have refused whole.
    std::size_t DecodeLimit(std::size_t from, bool hexData, bool& mark) const
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
    // Decodes the line at `from`, as far as the importer can use it, into line_, and returns where
    // the decoding stopped: the line's end, or where it was cut short (cut_). `nul` tells whether
    // the part read holds a NUL. A whole line is found first, so that its room is taken once: it
    // never costs more than its UTF-16 and the pages of it still to decode.
    std::size_t Decode(std::size_t from, bool hexData, bool& nul)
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
    std::size_t FindLineEnd(std::size_t from, std::size_t stop, bool& nul, bool giveBack)
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
    void Append(std::size_t from, std::size_t to)
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
    unsigned LastLineNumber() const
    {
        unsigned line = 1;
        for (std::size_t i = 0; i < Units(); ++i) {
            if (Unit(i) == u'\n' || (Unit(i) == u'\r' && (i + 1 >= Units() || Unit(i + 1) != u'\n'))) {
                ++line;
            }
        }
        return line;
    }

    const std::string& fileName_;
    std::string_view bytes_; // after any byte-order mark
    std::size_t markBytes_ = 0;
    const ImportProgress& progress_;
    std::size_t reported_ = 0;
    bool utf16_ = false;
    bool cut_ = false;         // whether the last line was cut short, its rest still to pass over
    std::size_t position_ = 0; // in code units of the file's encoding
    unsigned lineNumber_ = 0;
    std::u16string line_;
};

// A cursor over the rest of one line.
struct Cursor {
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

class Importer {
  public:
    Importer(Registry& registry, std::string_view bytes, const std::string& fileName,
             const ImportProgress& progress)
        : registry_(registry), lines_(bytes, fileName, progress)
    {
    }

    void Run()
    {
        ReadHeader();
        while (const auto line = lines_.Next()) {
            Cursor cursor{*line};
            cursor.SkipBlanks();
            if (cursor.rest.empty()) {
                continue;
            }
            const char16_t first = cursor.rest.front();
            if (first == u'[') {
                ReadKeyLine(cursor.rest.substr(1));
            } else if (first == u'@' || first == u'"') {
                ReadValueLine(cursor);
            }
            // regedit passes over any other line, comments among them.
        }
    }

  private:
    void ReadHeader()
    {
        const auto line = lines_.Next();
        Cursor cursor{line.value_or(u"")};
        cursor.SkipBlanks();
        std::u16string_view header = cursor.rest;
        while (!header.empty() && IsBlank(header.back())) {
            header.remove_suffix(1);
        }
        if (header == Version5Header) {
            version4_ = false;
        } else if (header == Version4Header) {
            version4_ = true;
        } else if (header == Version31Header) {
            lines_.Fail(1, "a Windows 3.1 registry file (\"REGEDIT\"), a format no current Windows exports: "
                           "export the keys again with regedit or reg export");
        } else {
            lines_.Fail(1, "not a registry file: the first line must be \"Windows Registry Editor "
                           "Version 5.00\" or \"REGEDIT4\"");
        }
    }

    void ReadKeyLine(std::u16string_view line)
    {
        const std::size_t close = line.rfind(u']');
        if (close == std::u16string_view::npos) {
            lines_.Fail("key name lacks its closing \"]\"");
        }
        Cursor after{line.substr(close + 1)};
        if (!after.AtEnd()) {
            lines_.Fail("unexpected text after the key name");
        }
        std::u16string_view name = line.substr(0, close);
        const bool remove = !name.empty() && name.front() == u'-';
        if (remove) {
            name.remove_prefix(1);
        }

        const std::size_t slash = name.find(u'\\');
        const std::u16string_view rootName = name.substr(0, slash);
        std::u16string_view path =
            slash == std::u16string_view::npos ? std::u16string_view() : name.substr(slash + 1);
        // regedit opens "[...\Key\\]" as Key: backslashes at the end name nothing.
        while (path.size() > 1 && path.back() == u'\\') {
            path.remove_suffix(1);
        }
        std::shared_ptr<RegistryKey> root;
        for (const auto& candidate : RootNames) {
            if (NamesEqual(candidate.name, rootName)) {
                root = registry_.Root(candidate.root);
            }
        }
        if (!root) {
            lines_.Fail("unknown root key " + Quoted(rootName));
        }
        SplitKeyPath(path, keyPath_);
        const KeyPath& keyPath = keyPath_;
        if (!keyPath.valid || (slash != std::u16string_view::npos && keyPath.names.empty())) {
            lines_.Fail("empty key name in " + Quoted(name));
        }
        if (keyPath.names.size() > MaxKeyDepth) {
            lines_.Fail("key nested more than 512 levels deep");
        }
        for (const auto& keyName : keyPath.names) {
            if (keyName.size() > MaxKeyNameLength) {
                lines_.Fail("key name longer than 255 characters: " + Quoted(keyName));
            }
        }

        inKey_ = true;
        if (key_) {
            key_->ShrinkToFit(); // a file gives each key's values together
        }
        if (!remove) {
            key_ = OpenPath(root, keyPath);
            return;
        }
        openPath_.clear(); // the deletion may take keys on it out of the tree
        if (keyPath.names.empty()) {
            lines_.Fail("a root key cannot be deleted");
        }
        KeyPath parentPath = keyPath;
        parentPath.names.pop_back();
        if (const auto parent = FindKey(root, parentPath)) {
            parent->DeleteSubkey(keyPath.names.back());
        }
        // regedit opens no key after a deletion: the values that follow are passed over.
        key_ = nullptr;
    }

    // The key at `path` below `root`, created with any missing parents. Exports list keys in tree
    // order, so the walk starts from the deepest key that the previous key line shares.
    std::shared_ptr<RegistryKey> OpenPath(const std::shared_ptr<RegistryKey>& root, const KeyPath& path)
    {
        std::size_t shared = 0;
        if (openRoot_ == root) {
            while (shared < openPath_.size() && shared < path.names.size() &&
                   NamesEqual(openPath_[shared]->Name(), path.names[shared])) {
                ++shared;
            }
        }
        openRoot_ = root;
        openPath_.resize(shared);
        std::shared_ptr<RegistryKey> key = shared == 0 ? root : openPath_.back();
        for (std::size_t i = shared; i < path.names.size(); ++i) {
            key = key->CreateSubkey(path.names[i]);
            openPath_.push_back(key);
        }
        return key;
    }

    void ReadValueLine(Cursor& cursor)
    {
        if (!inKey_) {
            lines_.Fail("value outside any key");
        }
        std::u16string name;
        if (cursor.rest.front() == u'@') {
            cursor.rest.remove_prefix(1);
        } else {
            cursor.rest.remove_prefix(1);
            name = ReadQuoted(cursor, "value name lacks its closing quote", MaxValueNameLength);
        }
        cursor.SkipBlanks();
        if (cursor.rest.empty() || cursor.rest.front() != u'=') {
            lines_.Fail("expected \"=\" after the value name");
        }
        cursor.rest.remove_prefix(1);
        cursor.SkipBlanks();
        ReadValueData(cursor, name);
    }

    void ReadValueData(Cursor& cursor, const std::u16string& name)
    {
        if (!cursor.rest.empty() && cursor.rest.front() == u'"') {
            cursor.rest.remove_prefix(1);
            std::u16string text = ReadQuoted(cursor, "string lacks its closing quote");
            RequireEnd(cursor, "unexpected text after the string");
            text.push_back(u'\0');
            // The text's UTF-16 units are the bytes the registry keeps (UTF-16LE on this host).
            Store(name, REG_SZ,
                  std::span(reinterpret_cast<const unsigned char*>(text.data()),
                            text.size() * sizeof(char16_t)));
        } else if (!cursor.rest.empty() && cursor.rest.front() == u'-') {
            cursor.rest.remove_prefix(1);
            RequireEnd(cursor, "unexpected text after \"-\"");
            if (key_) {
                key_->DeleteValue(name);
            }
        } else if (cursor.TakeIgnoringCase(u"dword:")) {
            Store(name, REG_DWORD, ReadDword(cursor));
        } else if (cursor.TakeIgnoringCase(u"hex:")) {
            Store(name, REG_BINARY, ReadHexBytes(cursor));
        } else if (cursor.TakeIgnoringCase(u"hex(")) {
            const std::uint32_t type = ReadHexType(cursor);
            Bytes data = ReadHexBytes(cursor);
            // REGEDIT4 files hold these strings in the ANSI code page; the registry keeps UTF-16.
            // Empty data stays empty, as regedit stores it.
            if (version4_ && (type == REG_EXPAND_SZ || type == REG_MULTI_SZ) && !data.empty()) {
                std::u16string text =
                    AnsiToUtf16(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
                if (text.empty() || text.back() != u'\0') {
                    text.push_back(u'\0');
                }
                data = Utf16ToBytes(text);
            }
            Store(name, type, data);
        } else {
            lines_.Fail("unrecognised value data " + Quoted(cursor.rest));
        }
    }

    void Store(const std::u16string& name, std::uint32_t type, std::span<const unsigned char> data)
    {
        if (key_) {
            key_->SetValue(name, type, data);
        }
    }

    // Reads up to the closing quote, resolving the escapes regedit writes: \\ \" and, as Wine
    // writes them, \n and \r. regedit refuses \0; any other escaped character stands for itself.
    // A value name has at most `limit` characters: one longer is refused before it is read whole.
    std::u16string ReadQuoted(Cursor& cursor, const char* unterminated,
                              std::size_t limit = std::u16string::npos)
    {
        std::u16string text;
        while (true) {
            // Plain text up to the next quote or escape goes in whole.
            const std::size_t plain = std::min(cursor.rest.find_first_of(u"\"\\"), cursor.rest.size());
            if (plain > limit - text.size()) {
                text.append(cursor.rest.substr(0, std::min<std::size_t>(plain, 32)));
                lines_.Fail("value name longer than 16383 characters: " + Quoted(text));
            }
            text.append(cursor.rest.substr(0, plain));
            cursor.rest.remove_prefix(plain);
            if (cursor.rest.empty()) {
                lines_.Fail(unterminated);
            }
            char16_t c = cursor.rest.front();
            cursor.rest.remove_prefix(1);
            if (c == u'"') {
                return text;
            }
            if (c == u'\\') {
                if (cursor.rest.empty()) {
                    lines_.Fail(unterminated);
                }
                c = cursor.rest.front();
                cursor.rest.remove_prefix(1);
                if (c == u'0') {
                    lines_.Fail("\"\\0\" cannot stand in a string");
                }
                c = c == u'n' ? u'\n' : c == u'r' ? u'\r' : c;
            }
            if (text.size() == limit) {
                lines_.Fail("value name longer than 16383 characters: " + Quoted(text));
            }
            text.push_back(c);
        }
    }

    void RequireEnd(Cursor& cursor, const char* reason)
    {
        if (!cursor.AtEnd()) {
            lines_.Fail(reason);
        }
    }

    // A number of 1 to 8 hex digits, or nullopt.
    static std::optional<std::uint32_t> ReadHexNumber(Cursor& cursor)
    {
        std::uint32_t number = 0;
        std::size_t digits = 0;
        while (!cursor.rest.empty() && HexDigit(cursor.rest.front()) >= 0 && digits <= 8) {
            number = (number << 4) | static_cast<std::uint32_t>(HexDigit(cursor.rest.front()));
            cursor.rest.remove_prefix(1);
            ++digits;
        }
        if (digits == 0 || digits > 8) {
            return std::nullopt;
        }
        return number;
    }

    Bytes ReadDword(Cursor& cursor)
    {
        cursor.SkipBlanks(); // regedit takes "dword:  00000008"
        const auto number = ReadHexNumber(cursor);
        if (!number || !cursor.AtEnd()) {
            lines_.Fail("dword value must be 1 to 8 hex digits");
        }
        return Bytes{static_cast<unsigned char>(*number), static_cast<unsigned char>(*number >> 8),
                     static_cast<unsigned char>(*number >> 16), static_cast<unsigned char>(*number >> 24)};
    }

    std::uint32_t ReadHexType(Cursor& cursor)
    {
        const auto type = ReadHexNumber(cursor);
        if (!type || !cursor.TakeIgnoringCase(u"):")) {
            lines_.Fail("value type must be hex(N): with N 1 to 8 hex digits");
        }
        return *type;
    }

    // Comma-separated bytes of one or two hex digits. A backslash at the end of a line carries
    // the list on to the next line that is not blank or a comment.
    Bytes ReadHexBytes(Cursor& cursor)
    {
        Bytes bytes;
        bool afterComma = false;
        while (true) {
            cursor.SkipBlanks();
            if (cursor.rest.empty() || cursor.rest.front() == u';') {
                return bytes;
            }
            if (cursor.rest.front() == u'\\') {
                if (!bytes.empty() && !afterComma) {
                    // regedit drops such a value as malformed: "01\" continues nothing.
                    lines_.Fail("expected \",\" before the line continuation");
                }
                cursor.rest.remove_prefix(1);
                RequireEnd(cursor, "unexpected text after the line continuation");
                cursor.rest = NextDataLine();
                continue;
            }
            const std::size_t end = cursor.rest.find_first_of(u", \t;\\");
            const std::u16string_view item = cursor.rest.substr(0, end);
            if (item.empty() || item.size() > 2 || HexDigit(item[0]) < 0 ||
                (item.size() == 2 && HexDigit(item[1]) < 0)) {
                lines_.Fail("invalid hex byte " + Quoted(item));
            }
            bytes.push_back(static_cast<unsigned char>(
                item.size() == 1 ? HexDigit(item[0]) : HexDigit(item[0]) * 16 + HexDigit(item[1])));
            cursor.rest.remove_prefix(item.size());
            cursor.SkipBlanks();
            afterComma = !cursor.rest.empty() && cursor.rest.front() == u',';
            if (afterComma) {
                cursor.rest.remove_prefix(1);
            } else if (!cursor.rest.empty() && cursor.rest.front() != u'\\' && cursor.rest.front() != u';') {
                lines_.Fail("expected \",\" between hex bytes");
            }
        }
    }

    // The hex data that a continuation carries on to, or nothing at the end of the file: regedit
    // then keeps the bytes read so far. A continuation onto anything but hex data is the fault of
    // the line that continued.
    std::u16string_view NextDataLine()
    {
        const unsigned continued = lines_.LineNumber();
        while (const auto line = lines_.Next(true)) {
            Cursor cursor{*line};
            if (cursor.AtEnd()) {
                continue;
            }
            if (HexDigit(cursor.rest.front()) < 0) {
                lines_.Fail(continued, "the line continuation is not followed by hex data");
            }
            return cursor.rest;
        }
        return {};
    }

    Registry& registry_;
    LineReader lines_;
    bool version4_ = false;
    bool inKey_ = false;
    std::shared_ptr<RegistryKey> key_;
    KeyPath keyPath_; // the last key line's, kept for its strings
    // The keys from openRoot_ down to the last key a key line opened.
    std::shared_ptr<RegistryKey> openRoot_;
    std::vector<std::shared_ptr<RegistryKey>> openPath_;
};

} // namespace

void ImportRegFile(Registry& registry, std::string_view fileBytes, const std::string& fileName,
                   const ImportProgress& progress)
{
    Importer(registry, fileBytes, fileName, progress).Run();
}

} // namespace simulated_windows
