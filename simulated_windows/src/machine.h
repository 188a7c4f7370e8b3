// Loading the machine behind the Windows functions: its registry from hives and .reg files, and
// the list of devices present. Internal to the platform; the controls are in simulated_platform.h.
#pragma once

#include "import_progress.h"
#include "registry.h"

#include <string>
#include <string_view>

namespace simulated_windows {

// Replaces the machine's registry with one built in code.
void LoadMachine(Registry registry);

// Imports one file into `registry`: a hive or a .reg file, told apart by its content, not its
// name. `path` is where the file lies (empty when it is only text in memory). Returns the warning
// the file deserves, "" for none: given only once every file has loaded, so that a refusal stays
// the one line on standard error.
[[nodiscard]] std::string ImportFile(Registry& registry, std::string_view bytes, const std::string& name,
                                     const std::string& path, const ImportProgress& progress);

} // namespace simulated_windows
