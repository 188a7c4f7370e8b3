// Saved registry hives (the regf format that `reg save` writes and that Windows keeps on disk as
// System32\config\SYSTEM), read with hivex.
#pragma once

#include "hive_log.h"
#include "import_progress.h"
#include "registry.h"
#include "simulated_windows/refused_input.h"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace simulated_windows {

// Whether the bytes are a hive: the file's content tells, not its name.
bool IsHive(std::string_view fileBytes);

// What a replay says of a hive it reads although Windows had not finished writing it back: it
// goes on, as Windows would boot such a hive, but not silently.
struct DirtyHiveWarning {
    std::string fileName; // as messages name the hive
    std::string hiveName; // the file's own name, which its logs' names extend
    bool logsBeside;      // its logs were there, but held nothing newer than the hive
    // "<file>: warning: a dirty hive ..."
    std::string Text() const;
};

// Mounts a hive where Windows had the key it saved. A whole SYSTEM hive goes at
// HKEY_LOCAL_MACHINE\SYSTEM, over what is there, with CurrentControlSet linked to the control set
// that Select\Current names, as Windows does at boot; a CurrentControlSet key stored in the hive is
// shadowed by that link, as on Windows. A hive of one subtree, as `reg save` of a key writes it, is
// placed by its root key's name, which is the saved key's: "Enum" at
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum, "Class" at ...\CurrentControlSet\Control\Class,
// over what is there. A dirty hive (one whose last write was not finished) is first recovered with
// the transaction logs beside the file at `path`, NAME.LOG1 and NAME.LOG2 (see hive_log.h); without
// logs to apply it is read as it stands, and the warning to give is returned. An empty path means
// the hive exists only as `fileBytes`, with no logs. The hive is read from `fileBytes` alone: the
// file is never opened again. Throws RefusedInput ("<file>: <reason>") for a damaged hive, one that
// is neither a SYSTEM hive nor a subtree placed here, or a log that is not a log; the registry may
// then hold part of it, so callers import into a registry of their own, as for .reg files.
// `progress` hears how much of `fileBytes` is read for good.
[[nodiscard]] std::optional<DirtyHiveWarning> ImportHive(Registry& registry, std::string_view fileBytes,
                                                         const std::string& fileName, const std::string& path,
                                                         const ImportProgress& progress = {});

// The same for a hive that needs no recovery (or has had it): its logs are not looked for.
void MountHive(Registry& registry, std::string_view hiveBytes, const std::string& fileName,
               const ImportProgress& progress = {});

// Reads any hive, not only a SYSTEM hive, as it stands or, when it is dirty, as `logs` recover it
// (see hive_log.h): its root key's values and subkeys become `into`'s, counted as one level below a
// predefined key, and nothing of a SYSTEM hive's meaning is added. For the tools that compare what
// the platform reads with what other readers read. Throws RefusedInput as the loader does.
void ReadHive(std::string_view bytes, std::span<const HiveLog> logs, const std::string& fileName,
              const std::shared_ptr<RegistryKey>& into);

} // namespace simulated_windows
