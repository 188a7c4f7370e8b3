// The lines of a registry file, for the grammar (reg_grammar.h) to read. The reader owns the
// file's encoding, its line ends, where it stands, the line numbers, and the form of every fault:
// the grammar only names what it expected.
#pragma once

#include "import_progress.h"
#include "registry.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace simulated_windows {

// The blanks a registry file's lines hold around their parts.
inline bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

// The file's lines, in order, with the file's name and the line number every fault names. A file
// is UTF-16LE behind a byte-order mark, else 8-bit text in the ANSI code page; lines end in CRLF,
// LF or CR. Only the current line is ever decoded, so a large export is not held twice, and only
// as much of it as the importer can use, so that a long line costs at most its own UTF-16: a first
// line of more than HeaderLimit characters is no header; a key line is read no further than the
// longest key path Windows allows; and a line regedit passes over (one that begins with anything
// but "[", "@" or a quote, comments among them, unless it carries hex data on) no further than its
// first character. The file's pages behind the reader are given back every so often, within a long
// line too.
class RegLineReader {
  public:
    // Refuses an empty file and UTF-16 text that stops halfway through a character.
    RegLineReader(std::string_view fileBytes, std::string fileName, ImportProgress progress = {});

    // The next line without its line end, or nullopt at the end of the file; `hexData` when the
    // line may carry hex data on from a line continuation. The view lasts until the reader moves
    // on. Refuses a NUL anywhere after the first line.
    std::optional<std::u16string_view> NextLine(bool hexData = false);

    unsigned LineNumber() const { return lineNumber_; }
    // Throws RefusedInput: "<file>:<line>: <reason>", at the current line or the one given.
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

} // namespace simulated_windows
