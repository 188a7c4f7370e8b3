// Controls of the simulated platform, for tests and tools: what Wine's prefix and its options are
// to a Windows program under Wine. The tool itself never calls these.
//
// At the first Windows call a process makes, the platform loads its machine as its settings say
// (settings.h): the files named by SIMULATED_REGISTRY (several joined with ':', imported in order
// as successive `regedit /S` runs would), or, when it is unset, the sample machine built into the
// binary. An input that cannot be used stops the process with exit status 2 and one line
// "<file>:<line>: <reason>" on standard error, before the program has written anything.
#pragma once

#include "simulated_windows/refused_input.h"
#include "simulated_windows/win32_api.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace simulated_windows {

// Who the program runs as. Keys carry the rights Windows' default security gives them: an
// administrator (the default, an elevated prompt) has full control everywhere; a standard user
// reads HKEY_LOCAL_MACHINE and the other machine-wide keys, and has full control of
// HKEY_CURRENT_USER.
enum class User { Administrator, Standard };

// Handle bookkeeping, as a checked build would keep it.
struct HandleCounts {
    std::size_t openKeys = 0;          // key handles opened and not yet closed
    std::size_t openDeviceSets = 0;    // device information sets not yet destroyed
    std::size_t invalidHandleUses = 0; // calls handed a handle that was not open
};

// A registry file held in memory: a .reg export or a saved hive, told apart by its content.
struct RegistryFile {
    std::string name; // shown in error messages
    std::string bytes;
};

// Replaces the machine's registry with the given files imported in order into an empty one.
// Throws RefusedInput, and keeps the registry it had, when any file cannot be imported.
void LoadMachine(const std::vector<RegistryFile>& files);
void LoadMachine(std::string_view regFileText);

// Reads each file and loads them as LoadMachine does. Throws RefusedInput for a file that cannot
// be read (line 0) or imported.
void LoadMachineFromFiles(const std::vector<std::string>& paths);

// Puts the platform back as the process started: the machine its settings name, loaded again at
// the next call that asks about it, their user and presence list, no failure made, every handle
// closed and none counted invalid, and this thread's last error cleared. Handles given before stay
// invalid. A test starts from it, whatever the test before it left.
void ResetPlatform();

// The sample machine built into the binary.
std::string_view SampleMachineRegFile();

// Who the program runs as (see User). At start-up SIMULATED_USER=standard or =administrator
// chooses.
void RunAs(User user);

// Which devices count as present for DIGCF_PRESENT: those in a list that the customer's machine
// wrote (PowerShell's or wmic's CSV, see present_list.h), or, without a list, every device in the
// registry, removed ones that left their keys behind included. At start-up SIMULATED_PRESENT
// names the list. LoadPresentDevices throws RefusedInput for a list it cannot read.
void LoadPresentDevices(std::string_view csvBytes, const std::string& fileName);
void CountEveryDeviceAsPresent();

// Makes SetupDiGetClassDevsA fail with `error` (ERROR_SUCCESS lets it work again). Registry
// contents cannot produce that failure.
void FailDeviceSetRequests(DWORD error);

// Handle bookkeeping, as a checked build would keep it.
HandleCounts Handles();

// Whether this thread is inside one of the platform's Windows functions: what the heap is asked
// for then is the platform's doing, not its caller's.
bool InPlatformCall();

// A value as the registry stores it: its type and raw bytes (strings as UTF-16LE).
struct StoredValue {
    DWORD type = 0;
    std::vector<unsigned char> data;
};
std::optional<StoredValue> ReadStoredValue(HKEY root, std::string_view keyPath, std::string_view valueName);

} // namespace simulated_windows
