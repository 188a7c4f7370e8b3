// Saved registry hives (the regf format that `reg save` writes and that Windows keeps on disk as
// System32\config\SYSTEM), read with hivex.
#pragma once

#include "simulated_windows/refused_input.h"
#include "simulated_windows/registry.h"

#include <string>
#include <string_view>

namespace simulated_windows {

// Whether the bytes are a hive: the file's content tells, not its name.
bool IsHive(std::string_view fileBytes);

// Mounts a SYSTEM hive where Windows mounts it, at HKEY_LOCAL_MACHINE\SYSTEM, over what is there,
// and links CurrentControlSet to the control set that Select\Current names, as Windows does at
// boot; a CurrentControlSet key stored in the hive is shadowed by that link, as on Windows. hivex
// reads the file at `path`; an empty path means the hive exists only as `fileBytes`. Transaction
// logs beside a hive are not applied: it is read as it stands. Throws RefusedInput
// ("<file>: <reason>") for a damaged hive or one that is not a SYSTEM hive; the registry may then
// hold part of it, so callers import into a registry of their own, as for .reg files.
void ImportSystemHive(Registry& registry, std::string_view fileBytes, const std::string& fileName,
                      const std::string& path);

} // namespace simulated_windows
