// The grammar of registry files as regedit and `reg export` write them, over the file's lines
// (reg_line_reader.h): each function below reads one kind of line into a plain record and knows
// nothing of the registry the record goes into. Every fault throws RefusedInput, through the
// reader, naming the file and the line.
#pragma once

#include "code_page.h"
#include "reg_line_reader.h"
#include "registry.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace simulated_windows {

// The first line names the format: "Windows Registry Editor Version 5.00" or "REGEDIT4". Anything
// else is refused, the Windows 3.1 format by name.
enum class RegFileFormat { Version5, Version4 };
RegFileFormat ReadRegFileHeader(RegLineReader& reader);

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
void ReadKeyLine(const RegLineReader& reader, std::u16string_view line, RegKeyLine& into);

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
RegValueLine ReadValueLine(RegLineReader& reader, std::u16string_view line, RegFileFormat format);

} // namespace simulated_windows
