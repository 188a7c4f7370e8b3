// The Setup API functions. Devices are the instance keys
// HKLM\SYSTEM\CurrentControlSet\Enum\<enumerator>\<device>\<instance>; a device belongs to the
// class its "ClassGUID" value names, and is present when the machine's list says so (without a
// list, always). Properties are read live from the instance key, as Wine does, and indirect
// strings resolved, as Windows does.
//
// Each entry point validates first, through the helpers below, so that every function fails with
// the same error in the same order: the set's handle, the record, its cbSize, then the flags.
#include "access_rights.h"
#include "ansi_conversion.h"
#include "handles.h"
#include "indirect_string.h"
#include "machine.h"
#include "platform_call.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>

using namespace simulated_windows;

extern "C" const GUID GUID_DEVCLASS_NET = {
    0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

namespace {

// Device properties and the instance-key values behind them.
struct PropertyValue {
    DWORD property;
    // cppcheck-suppress unusedStructMember ; read through FindProperty's result, which cppcheck misses
    std::u16string_view valueName;
};
const std::array<PropertyValue, 10> PropertyValues = {{
    {SPDRP_DEVICEDESC, u"DeviceDesc"},
    {SPDRP_HARDWAREID, u"HardwareID"},
    {SPDRP_COMPATIBLEIDS, u"CompatibleIDs"},
    {SPDRP_CLASS, u"Class"},
    {SPDRP_CLASSGUID, u"ClassGUID"},
    {SPDRP_DRIVER, u"Driver"},
    {SPDRP_MFG, u"Mfg"},
    {SPDRP_FRIENDLYNAME, u"FriendlyName"},
    {SPDRP_LOCATION_INFORMATION, u"LocationInformation"},
    {SPDRP_UI_NUMBER, u"UINumber"},
}};

// The entry for a property code, or nullptr for one Windows does not know.
const PropertyValue* FindProperty(DWORD property)
{
    const auto known = std::find_if(PropertyValues.begin(), PropertyValues.end(),
                                    [&](const PropertyValue& p) { return p.property == property; });
    return known != PropertyValues.end() ? &*known : nullptr;
}

// ---------------------------------------------------------------- values of an instance key

bool GuidsEqual(const GUID& a, const GUID& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The text of a string value, without the terminators it was stored with.
std::optional<std::u16string> StringValue(const RegistryKey& key, std::u16string_view name)
{
    const RegistryValue* value = key.FindValue(name);
    if (value == nullptr || value->Type() != REG_SZ) {
        return std::nullopt;
    }
    std::u16string text = Utf16FromBytes(value->Data().data(), value->Data().size());
    while (!text.empty() && text.back() == u'\0') {
        text.pop_back();
    }
    return text;
}

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", hex digits in either case, from the text as
// stored: no code-page conversion may turn another character into a digit.
std::optional<GUID> ParseGuid(std::u16string_view text)
{
    if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') {
        return std::nullopt;
    }
    for (std::size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != u'-' : HexDigit(text[i]) < 0) {
            return std::nullopt;
        }
    }
    // Digits are checked above; each field is read as one hex number.
    auto hex = [&](std::size_t from, std::size_t digits) {
        std::uint32_t value = 0;
        for (std::size_t i = from; i < from + digits; ++i) {
            value = (value << 4) | static_cast<std::uint32_t>(HexDigit(text[i]));
        }
        return value;
    };
    GUID guid{};
    guid.Data1 = hex(1, 8);
    guid.Data2 = static_cast<WORD>(hex(10, 4));
    guid.Data3 = static_cast<WORD>(hex(15, 4));
    const std::size_t bytePositions[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (std::size_t i = 0; i < 8; ++i) {
        guid.Data4[i] = static_cast<BYTE>(hex(bytePositions[i], 2));
    }
    return guid;
}

// The class an instance key names in its "ClassGUID" value; none when the value is missing or
// is not a GUID.
std::optional<GUID> DeviceClass(const RegistryKey& instanceKey)
{
    const auto text = StringValue(instanceKey, u"ClassGUID");
    return text ? ParseGuid(*text) : std::nullopt;
}

// What a property read returns for a stored value, in the ANSI code page: an indirect string
// resolved as Windows resolves it when its resource cannot be loaded, anything else as stored.
Bytes PropertyData(const RegistryValue& value)
{
    if (value.Type() == REG_SZ) {
        std::u16string text = Utf16FromBytes(value.Data().data(), value.Data().size());
        text.resize(std::min(text.find(u'\0'), text.size()));
        if (const auto resolved = ResolveIndirectString(text)) {
            const std::string ansi = AnsiText(*resolved);
            return Bytes(ansi.c_str(), ansi.c_str() + ansi.size() + 1);
        }
    }
    return AnsiValueData(value.Type(), value.Data());
}

// ---------------------------------------------------------------- validation

// The set behind a handle: the first check of every function that takes one.
DeviceSet* CheckedSet(HDEVINFO set)
{
    DeviceSet* devices = ProcessHandles().ResolveDeviceSet(set);
    return devices != nullptr ? devices : FailWith<DeviceSet*>(ERROR_INVALID_HANDLE, nullptr);
}

// Whether a record is there and of its size. SetupDiEnumDeviceInfo, which fills the record,
// answers a wrong cbSize with ERROR_INVALID_USER_BUFFER; the functions that read a filled one
// answer ERROR_INVALID_PARAMETER, as for a missing record. Windows and Wine both do so.
bool CheckedRecord(const SP_DEVINFO_DATA* record, DWORD wrongSize)
{
    if (record == nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER, false);
    }
    return record->cbSize == sizeof(SP_DEVINFO_DATA) || FailWith(wrongSize, false);
}

// The device a record stands for, once the set, the record and its cbSize are checked in the
// order Windows checks them. A record that no enumeration filled names no member.
Device* CheckedDevice(HDEVINFO set, PSP_DEVINFO_DATA record)
{
    DeviceSet* devices = CheckedSet(set);
    if (devices == nullptr || !CheckedRecord(record, ERROR_INVALID_PARAMETER)) {
        return nullptr;
    }
    if (record->Reserved == 0 || record->Reserved > devices->devices.size()) {
        return FailWith<Device*>(ERROR_INVALID_PARAMETER, nullptr);
    }
    return &devices->devices[record->Reserved - 1];
}

// Why SetupDiGetClassDevsA refuses a request, in the order it looks, or ERROR_SUCCESS.
DWORD ClassDevsRequestError(const GUID* classGuid, DWORD flags)
{
    if (const DWORD failure = DeviceSetFailure(); failure != ERROR_SUCCESS) {
        return failure; // made to fail by the test controls
    }
    if ((flags & DIGCF_DEVICEINTERFACE) != 0) {
        return ERROR_INVALID_FLAGS; // interfaces are not simulated
    }
    if (classGuid == nullptr && (flags & DIGCF_ALLCLASSES) == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    return ERROR_SUCCESS;
}

// ---------------------------------------------------------------- building a set

// Whether a device of `deviceClass` belongs in a set asked for `classGuid`, or for every class.
bool InRequestedClass(const GUID& deviceClass, const GUID* classGuid, DWORD flags)
{
    return (flags & DIGCF_ALLCLASSES) != 0 || GuidsEqual(deviceClass, *classGuid);
}

// Calls visit(enumeratorKey, deviceKey, instanceKey) for each instance key below Enum, in
// registry order; when `enumerator` is not null, below the key it names: an enumerator, or a
// device path of an enumerator and a device (ROOT\LEGACY_BOGUS), as Windows takes one (Wine's
// Setup API tests, test_get_class_devs). A path of more names, or an empty name, names no devices.
template <typename Visit> void ForEachInstanceKey(PCSTR enumerator, Visit visit)
{
    static const KeyPath enumPath = SplitKeyPath(u"SYSTEM\\CurrentControlSet\\Enum"); // split once
    const auto enumKey = FindKey(LoadedRegistry().Root(RootKey::LocalMachine), enumPath);
    if (!enumKey) {
        return;
    }
    const KeyPath only = SplitKeyPath(WideName(enumerator));
    if (enumerator != nullptr && (!only.valid || only.names.empty() || only.names.size() > 2)) {
        return;
    }
    const auto named = [&](const RegistryKey& key, std::size_t level) {
        return level >= only.names.size() || NamesEqual(key.Name(), only.names[level]);
    };
    for (const auto& enumeratorKey : enumKey->Subkeys()) {
        if (!named(*enumeratorKey, 0)) {
            continue;
        }
        for (const auto& deviceKey : enumeratorKey->Subkeys()) {
            if (!named(*deviceKey, 1)) {
                continue;
            }
            for (const auto& instanceKey : deviceKey->Subkeys()) {
                visit(*enumeratorKey, *deviceKey, instanceKey);
            }
        }
    }
}

// ---------------------------------------------------------------- a device's keys

// The control set a scope reads: the machine's own, or the copy that a hardware profile (0 for
// the current one) keeps for configuration-specific settings. Null when there is none.
std::shared_ptr<RegistryKey> ScopeControlSet(DWORD scope, DWORD hwProfile)
{
    const auto localMachine = LoadedRegistry().Root(RootKey::LocalMachine);
    if (scope == DICS_FLAG_GLOBAL) {
        static const KeyPath globalControlSet = SplitKeyPath(u"SYSTEM\\CurrentControlSet"); // split once
        return FindKey(localMachine, globalControlSet);
    }
    char profile[16];
    std::snprintf(profile, sizeof profile, "%04u", static_cast<unsigned>(hwProfile));
    return FindKey(localMachine, SplitKeyPath(u"SYSTEM\\CurrentControlSet\\Hardware Profiles\\" +
                                              (hwProfile == 0 ? u"Current" : AnsiToUtf16(profile)) +
                                              u"\\System\\CurrentControlSet"));
}

// The device key: "Device Parameters" below the instance key; in a hardware profile, the
// instance's own key there.
std::shared_ptr<RegistryKey> DeviceKey(const Device& device, DWORD scope,
                                       const std::shared_ptr<RegistryKey>& controlSet)
{
    return scope == DICS_FLAG_GLOBAL ? device.instanceKey->FindSubkey(u"Device Parameters")
                                     : FindKey(controlSet, SplitKeyPath(u"Enum\\" + device.instanceId));
}

// The driver key: the "Driver" value names a key below Control\Class, as a path of names: ".." is
// a name like any other, and an empty value, or one ending in a backslash, names no key (Wine
// would open Class itself).
std::shared_ptr<RegistryKey> DriverKey(const Device& device, DWORD /*scope*/,
                                       const std::shared_ptr<RegistryKey>& controlSet)
{
    const auto driver = StringValue(*device.instanceKey, u"Driver");
    if (!driver || driver->empty() || driver->back() == u'\\') {
        return nullptr;
    }
    const KeyPath driverPath = SplitKeyPath(*driver);
    static const KeyPath classPath = SplitKeyPath(u"Control\\Class"); // split once, not per device
    const auto classKey = FindKey(controlSet, classPath);
    return driverPath.valid && classKey ? FindKey(classKey, driverPath) : nullptr;
}

// The key types SetupDiOpenDevRegKey opens, and where each is found within a control set.
struct KeyType {
    DWORD keyType;
    // cppcheck-suppress unusedStructMember ; called through FindKeyType's result, which cppcheck misses
    std::shared_ptr<RegistryKey> (*find)(const Device&, DWORD scope, const std::shared_ptr<RegistryKey>&);
};
const std::array<KeyType, 2> KeyTypes = {{
    {DIREG_DEV, DeviceKey},
    {DIREG_DRV, DriverKey},
}};

const KeyType* FindKeyType(DWORD keyType)
{
    const auto known = std::find_if(KeyTypes.begin(), KeyTypes.end(),
                                    [&](const KeyType& k) { return k.keyType == keyType; });
    return known != KeyTypes.end() ? &*known : nullptr;
}

// Why SetupDiOpenDevRegKey refuses a request before it looks for any key, or ERROR_SUCCESS.
DWORD DevRegKeyRequestError(DWORD scope, DWORD keyType)
{
    if ((scope != DICS_FLAG_GLOBAL && scope != DICS_FLAG_CONFIGSPECIFIC) || FindKeyType(keyType) == nullptr) {
        return ERROR_INVALID_FLAGS;
    }
    return ERROR_SUCCESS;
}

// A handle to one of the machine's keys, with the rights asked for: under HKEY_LOCAL_MACHINE a
// standard user may read, but not open for writing.
HKEY OpenMachineKey(std::shared_ptr<RegistryKey> key, REGSAM access)
{
    const REGSAM granted = RootRights(RunningUser(), RootKey::LocalMachine);
    const REGSAM rights = RequestedRights(access, granted);
    if (!Permits(granted, rights)) {
        return FailWith(ERROR_ACCESS_DENIED, static_cast<HKEY>(INVALID_HANDLE_VALUE));
    }
    return ProcessHandles().AddKey(std::move(key), rights, granted);
}

} // namespace

extern "C" HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND /*parent*/,
                                         DWORD flags)
{
    const PlatformCall call;
    if (const DWORD error = ClassDevsRequestError(classGuid, flags); error != ERROR_SUCCESS) {
        return FailWith(error, INVALID_HANDLE_VALUE);
    }
    DeviceSet set;
    ForEachInstanceKey(enumerator, [&](const RegistryKey& enumeratorKey, const RegistryKey& deviceKey,
                                       const std::shared_ptr<RegistryKey>& instanceKey) {
        const auto deviceClass = DeviceClass(*instanceKey);
        if (!deviceClass || !InRequestedClass(*deviceClass, classGuid, flags)) {
            return;
        }
        std::u16string id = enumeratorKey.Name() + u"\\" + deviceKey.Name() + u"\\" + instanceKey->Name();
        if ((flags & DIGCF_PRESENT) != 0 && !IsPresent(id)) {
            return;
        }
        set.devices.push_back(Device{std::move(id), instanceKey, *deviceClass});
    });
    return ProcessHandles().AddDeviceSet(std::move(set));
}

extern "C" BOOL SetupDiEnumDeviceInfo(HDEVINFO deviceSet, DWORD memberIndex, PSP_DEVINFO_DATA deviceInfo)
{
    const PlatformCall call;
    DeviceSet* devices = CheckedSet(deviceSet);
    if (devices == nullptr || !CheckedRecord(deviceInfo, ERROR_INVALID_USER_BUFFER)) {
        return FALSE;
    }
    if (memberIndex >= devices->devices.size()) {
        return FailWith(ERROR_NO_MORE_ITEMS, FALSE);
    }
    deviceInfo->ClassGuid = devices->devices[memberIndex].classGuid;
    deviceInfo->DevInst = memberIndex + 1;
    deviceInfo->Reserved = memberIndex + 1;
    return TRUE;
}

extern "C" BOOL SetupDiGetDeviceInstanceIdA(HDEVINFO deviceSet, PSP_DEVINFO_DATA deviceInfo, PSTR instanceId,
                                            DWORD instanceIdSize, PDWORD requiredSize)
{
    const PlatformCall call;
    const Device* device = CheckedDevice(deviceSet, deviceInfo);
    if (device == nullptr) {
        return FALSE;
    }
    const std::string id = AnsiText(device->instanceId);
    // Sizes count characters, the terminator included, and the required size is given even
    // when the buffer is too small.
    const auto needed = static_cast<DWORD>(id.size() + 1);
    if (requiredSize != nullptr) {
        *requiredSize = needed;
    }
    if (instanceId == nullptr && instanceIdSize != 0) {
        return FailWith(ERROR_INVALID_USER_BUFFER, FALSE);
    }
    if (instanceId == nullptr || instanceIdSize < needed) {
        return FailWith(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    std::memcpy(instanceId, id.c_str(), needed);
    return TRUE;
}

extern "C" BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO deviceSet, PSP_DEVINFO_DATA deviceInfo,
                                                  DWORD property, PDWORD propertyRegDataType,
                                                  PBYTE propertyBuffer, DWORD propertyBufferSize,
                                                  PDWORD requiredSize)
{
    const PlatformCall call;
    const Device* device = CheckedDevice(deviceSet, deviceInfo);
    if (device == nullptr) {
        return FALSE;
    }
    const PropertyValue* known = FindProperty(property);
    if (known == nullptr) {
        return FailWith(ERROR_INVALID_REG_PROPERTY, FALSE);
    }
    // A size without a buffer is invalid data to Windows, not an invalid parameter.
    if (propertyBuffer == nullptr && propertyBufferSize != 0) {
        return FailWith(ERROR_INVALID_DATA, FALSE);
    }
    const RegistryValue* value = device->instanceKey->FindValue(known->valueName);
    if (value == nullptr) {
        // Windows' documented answer for a property the device does not have.
        return FailWith(ERROR_INVALID_DATA, FALSE);
    }
    const Bytes bytes = PropertyData(*value);
    const auto needed = static_cast<DWORD>(bytes.size());
    if (requiredSize != nullptr) {
        *requiredSize = needed;
    }
    if (propertyRegDataType != nullptr) {
        *propertyRegDataType = value->Type();
    }
    if (propertyBufferSize < needed) {
        return FailWith(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    if (needed > 0) {
        std::memcpy(propertyBuffer, bytes.data(), needed);
    }
    // As under Wine, a string gets an uncounted terminator when there is room for one.
    if (IsStringType(value->Type()) && needed < propertyBufferSize) {
        propertyBuffer[needed] = 0;
    }
    return TRUE;
}

extern "C" HKEY SetupDiOpenDevRegKey(HDEVINFO deviceSet, PSP_DEVINFO_DATA deviceInfo, DWORD scope,
                                     DWORD hwProfile, DWORD keyType, REGSAM access)
{
    const PlatformCall call;
    const auto failed = static_cast<HKEY>(INVALID_HANDLE_VALUE);
    const Device* device = CheckedDevice(deviceSet, deviceInfo);
    if (device == nullptr) {
        return failed;
    }
    if (const DWORD error = DevRegKeyRequestError(scope, keyType); error != ERROR_SUCCESS) {
        return FailWith(error, failed);
    }
    // A hardware profile that was never created has no keys of its scope.
    const auto controlSet = ScopeControlSet(scope, hwProfile);
    auto key = controlSet ? FindKeyType(keyType)->find(*device, scope, controlSet) : nullptr;
    if (!key) {
        return FailWith(ERROR_KEY_DOES_NOT_EXIST, failed);
    }
    // A request for no rights at all is refused once the key is found: a missing key is missing
    // whatever the access (Wine's Setup API tests, test_device_key, which pass on Windows).
    if (access == 0) {
        return FailWith(ERROR_INVALID_DATA, failed);
    }
    return OpenMachineKey(std::move(key), access);
}

extern "C" BOOL SetupDiDestroyDeviceInfoList(HDEVINFO deviceSet)
{
    const PlatformCall call;
    if (!ProcessHandles().DestroyDeviceSet(deviceSet)) {
        return FailWith(ERROR_INVALID_HANDLE, FALSE);
    }
    return TRUE;
}
