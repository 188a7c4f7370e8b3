// The simulated machine's state behind the Windows functions: its registry, who runs, which
// devices are present, and the open handles. Internal to the platform.
#pragma once

#include "handle_table.h"
#include "present_list.h"
#include "registry.h"
#include "simulated_windows/simulated_platform.h"

#include <memory>
#include <optional>
#include <vector>

namespace simulated_windows {

struct OpenKey {
    std::shared_ptr<RegistryKey> key;
    REGSAM access = 0;  // what the handle was opened for
    REGSAM granted = 0; // what the user may do with the key and the keys below it
};

struct Device {
    std::u16string instanceId; // the instance key's path below Enum
    std::shared_ptr<RegistryKey> instanceKey;
    GUID classGuid{};
};

struct DeviceSet {
    std::vector<Device> devices;
};

class PlatformState {
  public:
    PlatformState() = default;
    // Its handle tables draw on its own sequence.
    PlatformState(const PlatformState&) = delete;
    PlatformState& operator=(const PlatformState&) = delete;

    Registry registry;
    User user = User::Administrator;
    std::optional<PresentDevices> present; // none: every device counts as present
    DWORD deviceSetFailure = ERROR_SUCCESS;
    std::size_t invalidHandleUses = 0; // calls handed a handle that was not open

    // A predefined root or an open key handle; nullptr (and counted) for anything else.
    const OpenKey* ResolveKey(HKEY key);
    HKEY AddKey(std::shared_ptr<RegistryKey> key, REGSAM access, REGSAM granted);
    bool CloseKey(HKEY key);

    DeviceSet* ResolveDeviceSet(HDEVINFO set);
    HDEVINFO AddDeviceSet(DeviceSet set);
    bool DestroyDeviceSet(HDEVINFO set);

    // A process token, by the access it was opened for.
    const DWORD* ResolveToken(HANDLE token);
    HANDLE AddToken(DWORD access);
    bool CloseToken(HANDLE token);

    HandleCounts Counts() const;

  private:
    ULONG_PTR handleSequence_ = 0x100;
    HandleTable<OpenKey> keys_{handleSequence_};
    HandleTable<DeviceSet> deviceSets_{handleSequence_};
    HandleTable<DWORD> tokens_{handleSequence_};
    OpenKey roots_[RootKeyNumbers]; // the predefined keys, open with every right the user has
};

// The predefined key a handle is, if it is one: HKEY_CLASSES_ROOT and the numbers after it.
std::optional<RootKey> PredefinedKey(HKEY key);

// The machine, loaded from the settings at the first call that needs it (see machine.cpp).
PlatformState& Platform();

// Marks a Windows function in progress on this thread for as long as it lives; every exported
// function starts with one, so that heap use can be told apart (see InPlatformCall).
class PlatformCall {
  public:
    PlatformCall();
    ~PlatformCall();
    PlatformCall(const PlatformCall&) = delete;
    PlatformCall& operator=(const PlatformCall&) = delete;
};

// Sets the thread's last error and passes `result` through, for one-line failure returns.
template <typename T> T FailWith(DWORD error, T result)
{
    SetLastError(error);
    return result;
}

} // namespace simulated_windows
