// The handles the Windows functions give out and take back: opened registry keys, device
// information sets and process tokens, and the count of calls handed a handle that was not open.
// Predefined keys are no handles of this table: the registry functions resolve them.
#pragma once

#include "handle_table.h"
#include "registry.h"
#include "simulated_windows/win32_api.h"

#include <cstddef>
#include <memory>
#include <string>
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

class OpenHandles {
  public:
    OpenHandles() = default;
    // Its tables draw on its own sequence.
    OpenHandles(const OpenHandles&) = delete;
    OpenHandles& operator=(const OpenHandles&) = delete;

    // Each Resolve, Close and Destroy counts a handle it does not hold as an invalid use.
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

    // A call handed a handle that no table is asked about: another process's, say.
    void CountInvalidUse() { ++invalidUses_; }

    std::size_t OpenKeys() const { return keys_.Size(); }
    std::size_t OpenDeviceSets() const { return deviceSets_.Size(); }
    std::size_t InvalidUses() const { return invalidUses_; }

    // Closes every handle and forgets the invalid uses. The sequence goes on: a handle given
    // before stays invalid.
    void CloseAll();

  private:
    // `found`, counting an invalid use when it is not.
    template <typename Found> Found Counted(Found found)
    {
        invalidUses_ += found ? 0 : 1;
        return found;
    }

    ULONG_PTR sequence_ = 0x100;
    HandleTable<OpenKey> keys_{sequence_};
    HandleTable<DeviceSet> deviceSets_{sequence_};
    HandleTable<DWORD> tokens_{sequence_};
    std::size_t invalidUses_ = 0;
};

// This process's handles.
OpenHandles& ProcessHandles();

} // namespace simulated_windows
