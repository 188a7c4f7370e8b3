// The registry as `reg export` writes it, for the support engineer: what the simulated platform
// loaded (hives with their logs applied, .reg files on top), to open in other tools or to compare
// two collections.
#pragma once

#include "registry.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace replay {

struct ExportedKey {
    std::u16string path; // as the export names it, from its root's long name
    std::shared_ptr<simulated_windows::RegistryKey> key;
};

// The key that `path` names (HKEY_LOCAL_MACHINE\SYSTEM, or with a root's short name, HKLM\SYSTEM,
// as `reg` takes it), or for an empty path every root key that holds anything. nullopt when there
// is no such key.
std::optional<std::vector<ExportedKey>> KeysToExport(const simulated_windows::Registry& registry,
                                                     std::string_view path);

// Writes the keys and everything below them to `out` as `reg export` writes a file: UTF-16LE with
// a byte-order mark, the version 5.00 header, CRLF line ends, each key after an empty line with
// its subkeys in the order Windows enumerates them, values in the order they were stored, binary
// data as hex bytes wrapped where Windows wraps them. A link, such as CurrentControlSet, is
// written as the key it leads to, under its own name, as `reg export` writes what it opens. A
// string that quotes cannot give back byte for byte (one without its terminator, with a NUL or a
// line end inside, or empty) is written as hex(1) bytes, where Windows would cut it at its first
// NUL: the file loads back to the registry it came from. A name no .reg file can give back (one
// the registry's rules refuse, registry.h: a NUL, a key's backslash or line break) throws
// ExportRefused (the rule's reason) with the file written up to there. Memory is that
// of the tree's depth times a name, beside the largest key. Returns false when a write fails.
class ExportRefused : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};
bool WriteRegExport(std::span<const ExportedKey> keys, std::FILE* out);

// The registry the platform loaded for this process (see simulated_windows/simulated_platform.h:
// SIMULATED_REGISTRY and the sample machine), loaded at the first call.
const simulated_windows::Registry& LoadedRegistry();

} // namespace replay
