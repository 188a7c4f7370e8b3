// The open handles: predefined and opened registry keys, device information sets, tokens.
#include "access_rights.h"
#include "platform_state.h"

namespace simulated_windows {

std::optional<RootKey> PredefinedKey(HKEY key)
{
    const auto value = reinterpret_cast<ULONG_PTR>(key);
    const auto first = reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT);
    if (value < first || value - first >= RootKeyNumbers) {
        return std::nullopt;
    }
    return static_cast<RootKey>(value - first);
}

const OpenKey* PlatformState::ResolveKey(HKEY key)
{
    if (const auto predefined = PredefinedKey(key)) {
        // Looked up afresh each time: loading a machine replaces the registry and its roots.
        OpenKey& root = roots_[static_cast<std::uint32_t>(*predefined)];
        // Windows opens a predefined key with all the rights the user has on it.
        const REGSAM rights = RootRights(user, *predefined);
        root = OpenKey{registry.Root(*predefined), rights, rights};
        if (root.key) {
            return &root;
        }
    }
    const OpenKey* open = keys_.Find(reinterpret_cast<ULONG_PTR>(key));
    invalidHandleUses += open == nullptr ? 1 : 0;
    return open;
}

HKEY PlatformState::AddKey(std::shared_ptr<RegistryKey> key, REGSAM access, REGSAM granted)
{
    return reinterpret_cast<HKEY>(keys_.Add(OpenKey{std::move(key), access, granted}));
}

bool PlatformState::CloseKey(HKEY key)
{
    const bool closed = keys_.Remove(reinterpret_cast<ULONG_PTR>(key));
    invalidHandleUses += closed ? 0 : 1;
    return closed;
}

DeviceSet* PlatformState::ResolveDeviceSet(HDEVINFO set)
{
    DeviceSet* found = deviceSets_.Find(reinterpret_cast<ULONG_PTR>(set));
    invalidHandleUses += found == nullptr ? 1 : 0;
    return found;
}

HDEVINFO PlatformState::AddDeviceSet(DeviceSet set)
{
    return reinterpret_cast<HDEVINFO>(deviceSets_.Add(std::move(set)));
}

bool PlatformState::DestroyDeviceSet(HDEVINFO set)
{
    const bool destroyed = deviceSets_.Remove(reinterpret_cast<ULONG_PTR>(set));
    invalidHandleUses += destroyed ? 0 : 1;
    return destroyed;
}

const DWORD* PlatformState::ResolveToken(HANDLE token)
{
    const DWORD* access = tokens_.Find(reinterpret_cast<ULONG_PTR>(token));
    invalidHandleUses += access == nullptr ? 1 : 0;
    return access;
}

HANDLE PlatformState::AddToken(DWORD access)
{
    return reinterpret_cast<HANDLE>(tokens_.Add(access));
}

bool PlatformState::CloseToken(HANDLE token)
{
    const bool closed = tokens_.Remove(reinterpret_cast<ULONG_PTR>(token));
    invalidHandleUses += closed ? 0 : 1;
    return closed;
}

HandleCounts PlatformState::Counts() const
{
    return HandleCounts{keys_.Size(), deviceSets_.Size(), invalidHandleUses};
}

} // namespace simulated_windows
