// A large machine's registry as `reg export` writes it, for measuring the .reg loader.
#pragma once

#include <cstddef>
#include <string>

// About `keys` keys (devices under Enum with their driver keys, then class registrations under
// SOFTWARE unless `systemOnly`), UTF-16LE with a byte-order mark and CRLF line ends, long binary
// values wrapped at 77 characters as the exporter wraps them.
std::string LargeExport(std::size_t keys, bool systemOnly = false);

// One key holding `values` DWORD values, as a REGEDIT4 file: for timing the lookup of values by
// name while a key fills up.
std::string WideKeyExport(std::size_t values);
