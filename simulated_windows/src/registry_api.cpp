// The registry functions, over the machine's in-memory registry. Names and string data in the
// ANSI code page are converted to and from the UTF-16 the registry keeps, so sizes count the
// converted bytes, as the "A" functions' do on Windows.
#include "access_rights.h"
#include "ansi_conversion.h"
#include "handles.h"
#include "machine.h"
#include "platform_call.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

using namespace simulated_windows;

namespace {

// The predefined key a handle is, if it is one: HKEY_CLASSES_ROOT and the numbers after it. Only
// the low 32 bits count, so that a 64-bit caller's key with other bits above them is still the
// predefined key (Wine's registry tests, test_reg_open_key, which pass on Windows).
std::optional<RootKey> PredefinedKey(HKEY key)
{
    const auto value = static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(key));
    const auto first = static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT));
    if (value < first || value - first >= RootKeyNumbers) {
        return std::nullopt;
    }
    return static_cast<RootKey>(value - first);
}

// The key behind a handle: a predefined key, which Windows opens with all the rights the user has
// on it, or a key handle opened before; nullopt, counted as an invalid use, for anything else.
std::optional<OpenKey> ResolveKey(HKEY key)
{
    if (const auto predefined = PredefinedKey(key)) {
        // Looked up afresh each time: loading a machine replaces the registry and its roots.
        if (auto root = LoadedRegistry().Root(*predefined)) {
            const REGSAM rights = RootRights(RunningUser(), *predefined);
            return OpenKey{std::move(root), rights, rights};
        }
    }
    if (const OpenKey* open = ProcessHandles().ResolveKey(key)) {
        return *open;
    }
    return std::nullopt;
}

// The open key behind a handle, once the handle and the access are checked.
LSTATUS UsableKey(HKEY key, REGSAM needed, std::optional<OpenKey>& open)
{
    open = ResolveKey(key);
    if (!open) {
        return ERROR_INVALID_HANDLE;
    }
    if (!Permits(open->access, needed)) {
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

// The keys created volatile, which Windows forgets at shutdown. Few keys are: their creator made
// them so, and a loaded machine drops them with the rest of its registry.
std::vector<std::weak_ptr<RegistryKey>>& VolatileKeys()
{
    static std::vector<std::weak_ptr<RegistryKey>>& keys = *new std::vector<std::weak_ptr<RegistryKey>>;
    return keys;
}

bool IsVolatile(const std::shared_ptr<RegistryKey>& key)
{
    return std::any_of(VolatileKeys().begin(), VolatileKeys().end(),
                       [&](const std::weak_ptr<RegistryKey>& entry) { return entry.lock() == key; });
}

// Creates the names of `path` from `depth` on below `parent`; the keys are volatile as `options` say.
std::shared_ptr<RegistryKey> CreateKeys(std::shared_ptr<RegistryKey> parent, const KeyPath& path,
                                        std::size_t depth, DWORD options)
{
    auto& volatileKeys = VolatileKeys();
    std::erase_if(volatileKeys, [](const std::weak_ptr<RegistryKey>& entry) { return entry.expired(); });
    for (; depth < path.names.size(); ++depth) {
        parent = parent->CreateSubkey(path.names[depth]);
        if ((options & REG_OPTION_VOLATILE) != 0) {
            volatileKeys.push_back(parent);
        }
    }
    return parent;
}

// Opens or creates `subKey` below `key` and hands back a new handle to it.
LSTATUS OpenSubkey(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result, bool create,
                   LPDWORD disposition)
{
    if (result == nullptr) {
        // RegCreateKeyExA calls the missing result a bad key (Wine's registry tests, test_reg_create_key).
        return create ? ERROR_BADKEY : ERROR_INVALID_PARAMETER;
    }
    std::optional<OpenKey> base;
    if (const LSTATUS status = UsableKey(key, 0, base); status != ERROR_SUCCESS) {
        return status;
    }
    // Past the handle's check the result is cleared on every failure, so that a caller may close
    // what it was handed on any path; a predefined key with no subkey is handed back itself (Wine's
    // registry tests, test_reg_open_key).
    *result = nullptr;
    if (!create && (subKey == nullptr || *subKey == '\0') && PredefinedKey(key)) {
        *result = key;
        return ERROR_SUCCESS;
    }
    const KeyPath path = SplitKeyPath(WideName(subKey));
    if (!path.valid) {
        // A path from the root of the registry is refused as such, a name left empty as missing.
        return subKey[0] == '\\' ? ERROR_BAD_PATHNAME : ERROR_FILE_NOT_FOUND;
    }
    // The deepest key of the path there is: the key itself, or the parent a new key goes below.
    std::shared_ptr<RegistryKey> parent = base->key;
    std::size_t depth = 0;
    for (; depth < path.names.size(); ++depth) {
        auto next = parent->FindSubkey(path.names[depth]);
        if (!next) {
            break;
        }
        parent = std::move(next);
    }
    const bool found = depth == path.names.size();
    if (!found && !create) {
        return ERROR_FILE_NOT_FOUND;
    }
    // The key's security decides, whatever the base handle was opened for: the rights asked
    // for, and to create a key, the right to create subkeys.
    const REGSAM rights = RequestedRights(access, base->granted);
    if (!Permits(base->granted, rights) || (!found && !Permits(base->granted, KEY_CREATE_SUB_KEY))) {
        return ERROR_ACCESS_DENIED;
    }
    // A key that outlives a restart cannot hang below one that does not.
    if (!found && (options & REG_OPTION_VOLATILE) == 0 && IsVolatile(parent)) {
        return ERROR_CHILD_MUST_BE_VOLATILE;
    }
    if (disposition != nullptr) {
        *disposition = found ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    }
    *result =
        ProcessHandles().AddKey(CreateKeys(std::move(parent), path, depth, options), rights, base->granted);
    return ERROR_SUCCESS;
}

} // namespace

extern "C" LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM access, PHKEY result)
{
    const PlatformCall call;
    return OpenSubkey(key, subKey, 0, access, result, false, nullptr);
}

extern "C" LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD /*reserved*/, LPSTR /*keyClass*/,
                                   DWORD options, REGSAM access, void* /*securityAttributes*/, PHKEY result,
                                   LPDWORD disposition)
{
    const PlatformCall call;
    return OpenSubkey(key, subKey, options, access, result, true, disposition);
}

extern "C" LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                    LPDWORD dataSize)
{
    const PlatformCall call;
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::optional<OpenKey> open;
    if (const LSTATUS status = UsableKey(key, KEY_QUERY_VALUE, open); status != ERROR_SUCCESS) {
        return status;
    }
    const RegistryValue* value = open->key->FindValue(WideName(valueName));
    if (value == nullptr) {
        // Asked for the size alone, the caller learns there is nothing; a buffer's size is left as
        // it was (Wine's registry tests, test_query_value_ex).
        if (data == nullptr && dataSize != nullptr) {
            *dataSize = 0;
        }
        return ERROR_FILE_NOT_FOUND;
    }
    // The room is read before the type is written: a caller may hand the same variable for both.
    const DWORD room = dataSize != nullptr ? *dataSize : 0;
    if (type != nullptr) {
        *type = value->Type();
    }
    if (dataSize == nullptr) {
        return ERROR_SUCCESS;
    }
    const Bytes bytes = AnsiValueData(value->Type(), value->Data());
    const auto needed = static_cast<DWORD>(bytes.size());
    if (data != nullptr && room < needed) {
        // The buffer is left as it was.
        *dataSize = needed;
        return ERROR_MORE_DATA;
    }
    if (data != nullptr && needed > 0) {
        std::memcpy(data, bytes.data(), needed);
        // A string stored without its terminator gets one when the buffer has room for it, not
        // counted in the size; without room it comes back unterminated.
        if (IsStringType(value->Type()) && bytes.back() != 0 && room > needed) {
            data[needed] = 0;
        }
    }
    *dataSize = needed;
    return ERROR_SUCCESS;
}

extern "C" LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD /*reserved*/, DWORD type,
                                  const BYTE* data, DWORD dataSize)
{
    const PlatformCall call;
    if (data == nullptr && dataSize != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    std::optional<OpenKey> open;
    if (const LSTATUS status = UsableKey(key, KEY_SET_VALUE, open); status != ERROR_SUCCESS) {
        return status;
    }
    // A string whose size leaves out exactly its terminator is stored with it: Windows looks at
    // the byte after the data. Any other size is stored as given, so a string can be stored
    // without a terminator. Strings are widened to the UTF-16 the registry keeps.
    if (IsStringType(type) && dataSize > 0 && data[dataSize - 1] != 0 && data[dataSize] == 0) {
        ++dataSize;
    }
    open->key->SetValue(WideName(valueName), type, StoredValueData(type, data, dataSize));
    return ERROR_SUCCESS;
}

extern "C" LSTATUS RegCloseKey(HKEY key)
{
    const PlatformCall call;
    const auto value = reinterpret_cast<ULONG_PTR>(key);
    if (value == 0) {
        return ERROR_INVALID_HANDLE;
    }
    OpenHandles& handles = ProcessHandles();
    // Predefined keys, and anything numerically at or above them such as INVALID_HANDLE_VALUE,
    // close "successfully", as they do on Windows; only the bookkeeping notices the latter.
    if (static_cast<std::uint32_t>(value) >=
        static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT))) {
        if (!PredefinedKey(key)) {
            handles.CountInvalidUse();
        }
        return ERROR_SUCCESS;
    }
    return handles.CloseKey(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

std::optional<StoredValue> simulated_windows::ReadStoredValue(HKEY root, std::string_view keyPath,
                                                              std::string_view valueName)
{
    const std::optional<OpenKey> base = ResolveKey(root);
    if (!base) {
        return std::nullopt;
    }
    const auto key = FindKey(base->key, SplitKeyPath(AnsiToUtf16(keyPath)));
    const RegistryValue* value = key ? key->FindValue(AnsiToUtf16(valueName)) : nullptr;
    if (value == nullptr) {
        return std::nullopt;
    }
    return StoredValue{value->Type(), Bytes(value->Data().begin(), value->Data().end())};
}
