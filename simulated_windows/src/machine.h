// The machine behind the Windows functions: its registry, the devices present, who runs the
// program, and a failure the controls may make. It is loaded as the process's settings say at the
// first call that asks about it, or put in place by the controls (simulated_platform.h), which
// machine.cpp implements. Internal to the platform.
#pragma once

#include "hive_file.h"
#include "import_progress.h"
#include "registry.h"
#include "simulated_windows/simulated_platform.h"

#include <optional>
#include <string>
#include <string_view>

namespace simulated_windows {

// The machine's registry.
const Registry& LoadedRegistry();

// Who runs the program (see User).
User RunningUser();

// Whether the device of that instance ID counts as present: one in the machine's list, when the
// replay has one, else every device.
bool IsPresent(std::u16string_view instanceId);

// What SetupDiGetClassDevsA is made to fail with (see FailDeviceSetRequests), or ERROR_SUCCESS.
DWORD DeviceSetFailure();

// Replaces the machine's registry with one built in code.
void ReplaceRegistry(Registry registry);

// Forgets the machine: the next call that asks about it loads it again as the settings say.
void ResetMachine();

// Imports one file into `registry`: a hive or a .reg file, told apart by its content, not its
// name. `path` is where the file lies (empty when it is only text in memory). Returns the warning
// the file deserves, if any: given only once every file has loaded, so that a refusal stays the
// one line on standard error.
[[nodiscard]] std::optional<DirtyHiveWarning> ImportFile(Registry& registry, std::string_view bytes,
                                                         const std::string& name, const std::string& path,
                                                         const ImportProgress& progress);

} // namespace simulated_windows
