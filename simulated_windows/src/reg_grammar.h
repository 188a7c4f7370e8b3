// The grammar of registry files as regedit and `reg export` write them. A cursor walks the file a
// line at a time; each function below reads one kind of line into a plain record and knows
// nothing of the registry the record goes into. Every fault throws RefusedInput naming the file
// and the line.
#pragma once

#include "code_page.h"
#include "import_progress.h"
#include "registry.h"
#include "simulated_windows/refused_input.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace simulated_windows {

// The file's lines, in order, with the file's name and the line number every fault names. A file
// is UTF-16LE behind a byte-order mark, else 8-bit text in the ANSI code page; lines end in CRLF,
// LF or CR. Only the current line is ever decoded, so a large export is not held twice, and only
// as much of it as the importer can use, so that a long line costs at most its own UTF-16: a first
// line of more than HeaderLimit characters is no header; a key line is read no further than the
// longest key path Windows allows; and a line regedit passes over (one that begins with anything
// but "[", "@" or a quote, comments among them, unless it carries hex data on) no further than its
// first character. The file's pages behind the cursor are given back every so often, within a long
// line too.
class RegFileCursor {
  public:
    // Refuses an empty file and UTF-16 text that stops halfway through a character.
    RegFileCursor(std::string_view fileBytes, std::string fileName, ImportProgress progress = {});

    // The next line without its line end, or nullopt at the end of the file; `hexData` when the
    // line may carry hex data on from a line continuation. The view lasts until the cursor moves
    // on. Refuses a NUL anywhere after the first line.
    std::optional<std::u16string_view> NextLine(bool hexData = false);
    // The line that a line ending in a continuation ("\") carries on to: the next one that is not
    // blank or a comment, from its first hex digit, or an empty view at the end of the file.
    // Refuses, at the continued line, a continuation onto anything but hex data.
    std::u16string_view ContinuedLine();

    unsigned LineNumber() const { return lineNumber_; }
    [[noreturn]] void Fail(const std::string& reason) const { Fail(lineNumber_, reason); }
    [[noreturn]] void Fail(unsigned line, const std::string& reason) const;

  private:
    // Longer than any header with its blanks.
    static constexpr std::size_t HeaderLimit = 4096;
    // "[-HKEY_CURRENT_CONFIG", then 512 names of at most 255 characters, each after a backslash, and "]".
    static constexpr std::size_t KeyLineLimit = 2 + 19 + MaxKeyDepth * (1 + MaxKeyNameLength) + 1;
    static constexpr std::size_t Chunk = std::size_t{1} << 20; // units of a long line at a time

    std::size_t Units() const { return utf16_ ? bytes_.size() / 2 : bytes_.size(); }
    char16_t Unit(std::size_t i) const;
    void GiveBack(std::size_t position);
    std::size_t PastLineEnd(std::size_t end) const;
    std::size_t DecodeLimit(std::size_t from, bool hexData, bool& mark) const;
    std::size_t Decode(std::size_t from, bool hexData, bool& nul);
    std::size_t FindLineEnd(std::size_t from, std::size_t stop, bool& nul, bool giveBack);
    void Append(std::size_t from, std::size_t to);
    unsigned LastLineNumber() const;

    std::string fileName_;
    std::string_view bytes_; // after any byte-order mark
    std::size_t markBytes_ = 0;
    ImportProgress progress_;
    std::size_t reported_ = 0;
    bool utf16_ = false;
    bool cut_ = false;         // whether the last line was cut short, its rest still to pass over
    std::size_t position_ = 0; // in code units of the file's encoding
    unsigned lineNumber_ = 0;
    std::u16string line_;
};

// A short, printable rendering of file text for a fault's reason: it must stay on one line.
std::string QuotedText(std::u16string_view text);

// The first line names the format: "Windows Registry Editor Version 5.00" or "REGEDIT4". Anything
// else is refused, the Windows 3.1 format by name.
enum class RegFileFormat { Version5, Version4 };
RegFileFormat ReadRegFileHeader(RegFileCursor& cursor);

// What a line after the header holds, by its first character after any blanks: "[" a key, "@" or
// a quote a value. regedit passes over any other line, comments among them.
enum class RegLineKind { Other, Key, Value };
RegLineKind KindOfLine(std::u16string_view line);

// "[ROOT\path]" opens the key, creating what is missing; "[-ROOT\path]" deletes it and everything
// under it.
struct RegKeyLine {
    RootKey root = RootKey::ClassesRoot;
    bool remove = false;
    KeyPath path; // below the root; no names for the root itself
};
// Reads a line that KindOfLine calls a key into `into`, whose strings it reuses: an export has a
// key line every few lines. Backslashes at the end of the path name nothing, as in regedit. The
// length and depth of the names are the registry's to judge, not the grammar's.
void ReadKeyLine(const RegFileCursor& cursor, std::u16string_view line, RegKeyLine& into);

// "name"=data or @=data (the default value, whose name is empty); "name"=- deletes the value.
struct RegValueLine {
    std::u16string name;
    bool remove = false;
    std::uint32_t type = 0; // REG_SZ, REG_DWORD, ...; unused for a deletion
    Bytes data;             // as the registry stores it
};
// Reads a line that KindOfLine calls a value, with the lines a hex list continues on: `line` is not
// to be used after. Strings become UTF-16LE with a terminator. A REGEDIT4 file's hex(2) and hex(7)
// data is ANSI text, converted, with a terminator added where one is missing (empty data stays
// empty); a version 5 file's hex data is kept as written.
RegValueLine ReadValueLine(RegFileCursor& cursor, std::u16string_view line, RegFileFormat format);

} // namespace simulated_windows
