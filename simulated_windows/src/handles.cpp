#include "handles.h"

#include "simulated_windows/simulated_platform.h"

#include <utility>

namespace simulated_windows {

const OpenKey* OpenHandles::ResolveKey(HKEY key)
{
    return Counted(keys_.Find(reinterpret_cast<ULONG_PTR>(key)));
}

HKEY OpenHandles::AddKey(std::shared_ptr<RegistryKey> key, REGSAM access, REGSAM granted)
{
    return reinterpret_cast<HKEY>(keys_.Add(OpenKey{std::move(key), access, granted}));
}

bool OpenHandles::CloseKey(HKEY key)
{
    return Counted(keys_.Remove(reinterpret_cast<ULONG_PTR>(key)));
}

DeviceSet* OpenHandles::ResolveDeviceSet(HDEVINFO set)
{
    return Counted(deviceSets_.Find(reinterpret_cast<ULONG_PTR>(set)));
}

HDEVINFO OpenHandles::AddDeviceSet(DeviceSet set)
{
    return reinterpret_cast<HDEVINFO>(deviceSets_.Add(std::move(set)));
}

bool OpenHandles::DestroyDeviceSet(HDEVINFO set)
{
    return Counted(deviceSets_.Remove(reinterpret_cast<ULONG_PTR>(set)));
}

const DWORD* OpenHandles::ResolveToken(HANDLE token)
{
    return Counted(tokens_.Find(reinterpret_cast<ULONG_PTR>(token)));
}

HANDLE OpenHandles::AddToken(DWORD access)
{
    return reinterpret_cast<HANDLE>(tokens_.Add(access));
}

bool OpenHandles::CloseToken(HANDLE token)
{
    return Counted(tokens_.Remove(reinterpret_cast<ULONG_PTR>(token)));
}

void OpenHandles::CloseAll()
{
    keys_.Clear();
    deviceSets_.Clear();
    tokens_.Clear();
    invalidUses_ = 0;
}

OpenHandles& ProcessHandles()
{
    // Never destroyed, as a Windows process's memory is not taken apart at exit: nothing that
    // runs after main returns can fail.
    static OpenHandles& handles = *new OpenHandles;
    return handles;
}

HandleCounts Handles()
{
    const OpenHandles& handles = ProcessHandles();
    return HandleCounts{handles.OpenKeys(), handles.OpenDeviceSets(), handles.InvalidUses()};
}

} // namespace simulated_windows
