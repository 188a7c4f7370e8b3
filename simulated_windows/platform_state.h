// The simulated machine's state behind the Windows functions: its registry, the open handles and
// the thread's last error. Internal to the platform.
#pragma once

#include "simulated_windows/platform_types.h"
#include "simulated_windows/present_list.h"
#include "simulated_windows/registry.h"
#include "simulated_windows/win32_api.h"

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace simulated_windows {

struct OpenKey {
    std::shared_ptr<RegistryKey> key;
    REGSAM access = 0;  // what the handle was opened for
    REGSAM granted = 0; // what the user may do with the key and the keys below it
};

// The rights asked for, with generic rights mapped to the key rights they stand for and the
// flags that choose a registry view (not rights) left out; MAXIMUM_ALLOWED asks for `granted`.
REGSAM RequestedRights(REGSAM access, REGSAM granted);

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
    Registry registry;
    User user = User::Administrator;
    std::optional<PresentDevices> present; // none: every device counts as present
    DWORD deviceSetFailure = ERROR_SUCCESS;
    HandleCounts counts;

    // A predefined root or an open key handle; nullptr (and counted) for anything else.
    const OpenKey* ResolveKey(HKEY key);
    HKEY AddKey(std::shared_ptr<RegistryKey> key, REGSAM access, REGSAM granted);
    // What the user may do with a predefined key and the keys below it.
    REGSAM RootRights(RootKey root) const;
    bool CloseKey(HKEY key);

    DeviceSet* ResolveDeviceSet(HDEVINFO set);
    HDEVINFO AddDeviceSet(DeviceSet set);
    bool DestroyDeviceSet(HDEVINFO set);

  private:
    ULONG_PTR NextHandle();

    ULONG_PTR nextHandle_ = 0x100;
    std::map<ULONG_PTR, OpenKey> keys_;
    std::map<ULONG_PTR, DeviceSet> deviceSets_;
    OpenKey roots_[RootKeyNumbers]; // the predefined keys, open with every right the user has
};

// The predefined key a handle is, if it is one: HKEY_CLASSES_ROOT and the numbers after it.
std::optional<RootKey> PredefinedKey(HKEY key);

// The machine, loaded at the first call (see simulated_platform.h).
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
