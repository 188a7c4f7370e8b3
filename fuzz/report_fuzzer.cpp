// The report over arbitrary machines. The fuzzer's bytes become a registry: devices under several
// enumerators, descriptions around the prefix, properties and "DeviceName" values of any type,
// length and termination, driver values that point anywhere. The report must then print exactly
// what a model of it predicts from the platform's own answers: a block only for descriptions that
// begin with the prefix, lines in their order, the name line exactly when the key opened, and no
// byte the platform did not return for that adapter. Every handle it takes must be given back.
#include "adapter_report/adapter_report.h"
#include "machine.h"
#include "simulated_windows/simulated_platform.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim = simulated_windows;

namespace {

const std::string Prefix = "  Brenlok Hardware Abstraction Driver";
const std::u16string NetClass = u"{4d36e972-e325-11ce-bfc1-08002be10318}";

std::u16string Widen(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

// Text drawn from characters that matter: ASCII, NUL, printf directives, Windows-1252 and
// best-fit characters, and ones with no 1252 form at all.
std::u16string Text(FuzzedDataProvider& input, std::size_t maxLength)
{
    static const char16_t alphabet[] = {u'a',  u'Z',  u' ',      u'%',      u's',      u'n',      u'\\',
                                        u'\0', u'\n', u'\u00e9', u'\u20ac', u'\u03a9', u'\u4e2d', u'\xd83d'};
    std::u16string text(input.ConsumeIntegralInRange<std::size_t>(0, maxLength), u'a');
    for (auto& c : text) {
        c = alphabet[input.ConsumeIntegralInRange<std::size_t>(0, sizeof alphabet / sizeof alphabet[0] - 1)];
    }
    return text;
}

// A length near one of the boundaries the report cares about.
std::size_t InterestingLength(FuzzedDataProvider& input)
{
    static const std::size_t bases[] = {0, 4, 37, 99, PROPERTY_BUFFER_SIZE - Prefix.size()};
    const std::size_t base = bases[input.ConsumeIntegralInRange<std::size_t>(0, 4)];
    return base + input.ConsumeIntegralInRange<std::size_t>(0, 3);
}

// A value of any type; strings with or without their terminator.
void SetValue(FuzzedDataProvider& input, sim::RegistryKey& key, const std::u16string& name,
              std::u16string text)
{
    const std::uint32_t types[] = {REG_SZ,     REG_SZ,    REG_SZ,    REG_EXPAND_SZ, REG_MULTI_SZ,
                                   REG_BINARY, REG_DWORD, REG_QWORD, REG_NONE};
    const std::uint32_t type = types[input.ConsumeIntegralInRange<std::size_t>(0, 8)];
    if (input.ConsumeBool()) {
        text.push_back(u'\0');
    }
    sim::Bytes data = sim::Utf16ToBytes(text);
    if (type == REG_DWORD || type == REG_QWORD || type == REG_BINARY || type == REG_NONE) {
        data = input.ConsumeBytes<unsigned char>(input.ConsumeIntegralInRange<std::size_t>(0, 9));
    }
    key.SetValue(name, type, std::move(data));
}

// The text as it is, or stored the way Windows 8 and later store it: an indirect string that
// falls back to it, perhaps with arguments for its %N; or a malformed or fallback-less one.
std::u16string MaybeIndirect(FuzzedDataProvider& input, const std::u16string& text)
{
    static const char16_t* const references[] = {u"@oem42.inf,%desc%", u"@pci.sys,#65536", u"@", u"@;"};
    static const char16_t* const tails[] = {u"",       u" %1",    u" %2,%1", u" %3%", u" %10", u";(0,31,6)",
                                            u";(a,b)", u";(0,31", u";()",    u";(;)", u")",    u"%1;(x);(y)"};
    switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:
        return text;
    case 1: // no fallback
        return references[input.ConsumeIntegralInRange(0, 3)] + text;
    default: {
        std::u16string stored = references[input.ConsumeIntegralInRange(0, 3)];
        stored += u';' + text + tails[input.ConsumeIntegralInRange(0, 11)];
        if (input.ConsumeBool()) {
            stored += tails[input.ConsumeIntegralInRange(0, 11)];
        }
        return stored;
    }
    }
}

// Deep and wide trees: a chain of keys below a driver key, deep enough that anything recursing
// down it would overflow the stack, which a Driver value may lead into; a driver key
// with many values, some deleted, so that values are found by hashing and deleted ones leave
// gaps; and an enumerator with many instances, created out of order, some of them adapters.
void AddDeepAndWideTrees(FuzzedDataProvider& input, sim::RegistryKey& enumKey, sim::RegistryKey& classKey)
{
    if (input.ConsumeBool()) {
        // Now and then deeper than any stack would hold a recursion over it; mostly shallow, so that
        // runs stay quick.
        const std::size_t depth = input.ConsumeIntegralInRange(0, 15) == 0
                                      ? 60000
                                      : input.ConsumeIntegralInRange<std::size_t>(1, 600);
        std::shared_ptr<sim::RegistryKey> key = classKey.CreateSubkey(u"0009");
        for (std::size_t level = 0; level < depth; ++level) {
            key = key->CreateSubkey(u"k");
        }
        SetValue(input, *key, u"DeviceName", Text(input, 8));
    }
    if (input.ConsumeBool()) {
        const auto wide = classKey.CreateSubkey(u"0008");
        const std::size_t values = input.ConsumeIntegralInRange<std::size_t>(0, 600);
        const std::size_t nameAt = input.ConsumeIntegralInRange<std::size_t>(0, values);
        for (std::size_t v = 0; v <= values; ++v) {
            if (v == nameAt) {
                SetValue(input, *wide, u"DeviceName", Text(input, 8));
            } else {
                wide->SetValue(Widen("v" + std::to_string(v)), REG_DWORD, sim::Bytes(4, 1));
            }
        }
        const std::size_t deletions = input.ConsumeIntegralInRange<std::size_t>(0, 20);
        for (std::size_t d = 0; d < deletions; ++d) {
            const std::size_t v = input.ConsumeIntegralInRange<std::size_t>(0, values);
            wide->DeleteValue(v == nameAt ? u"devicename" : Widen("v" + std::to_string(v)));
        }
        if (input.ConsumeBool()) {
            SetValue(input, *wide, u"DEVICENAME", Text(input, 8));
        }
    }
    if (input.ConsumeBool()) {
        const auto device = enumKey.CreateSubkey(u"WIDE")->CreateSubkey(u"NET");
        const std::size_t instances = input.ConsumeIntegralInRange<std::size_t>(0, 400);
        const std::size_t stride = input.ConsumeIntegralInRange<std::size_t>(1, 97);
        for (std::size_t i = 0; i < instances; ++i) {
            const auto instance = device->CreateSubkey(Widen(std::to_string((i * stride) % 2011)));
            if (i % 97 == 0) {
                instance->SetValue(u"ClassGUID", REG_SZ, sim::Utf16ToBytes(NetClass + u'\0'));
                instance->SetValue(u"DeviceDesc", REG_SZ, sim::Utf16ToBytes(Widen(Prefix) + u'\0'));
                instance->SetValue(u"Driver", REG_SZ, sim::Utf16ToBytes(NetClass + u"\\0008" + u'\0'));
            }
        }
    }
}

sim::Registry BuildMachine(FuzzedDataProvider& input)
{
    sim::Registry registry;
    const auto machine = registry.Root(sim::RootKey::LocalMachine);
    const auto enumKey = sim::CreateKey(machine, sim::SplitKeyPath(u"SYSTEM\\CurrentControlSet\\Enum"));
    const auto classKey =
        sim::CreateKey(machine, sim::SplitKeyPath(u"SYSTEM\\CurrentControlSet\\Control\\Class\\" + NetClass));

    const std::size_t driverKeys = input.ConsumeIntegralInRange<std::size_t>(0, 5);
    for (std::size_t k = 0; k < driverKeys; ++k) {
        const auto driverKey = classKey->CreateSubkey(Widen("000" + std::to_string(k)));
        if (input.ConsumeBool()) {
            std::u16string name = Text(input, 4);
            name.resize(input.ConsumeBool() ? InterestingLength(input) : name.size(), u'x');
            SetValue(input, *driverKey, input.ConsumeBool() ? u"DeviceName" : u"devicename", name);
        }
    }

    static const char16_t* const enumerators[] = {u"PCI", u"ROOT", u"root", u"USB", u"Sw"};
    static const char16_t* const devices[] = {u"NET", u"net", u"BRENLOK", u"X_1"};
    static const char16_t* const instances[] = {u"0000", u"0001", u"a", u"A"};
    const std::size_t deviceCount = input.ConsumeIntegralInRange<std::size_t>(0, 10);
    for (std::size_t d = 0; d < deviceCount && input.remaining_bytes() > 0; ++d) {
        const auto instance = enumKey->CreateSubkey(enumerators[input.ConsumeIntegralInRange(0, 4)])
                                  ->CreateSubkey(devices[input.ConsumeIntegralInRange(0, 3)])
                                  ->CreateSubkey(instances[input.ConsumeIntegralInRange(0, 3)]);
        switch (input.ConsumeIntegralInRange(0, 4)) {
        case 0: // another class
            instance->SetValue(u"ClassGUID", REG_SZ,
                               sim::Utf16ToBytes(u"{4d36e968-e325-11ce-bfc1-08002be10318}"));
            break;
        case 1: // no class
            break;
        default:
            instance->SetValue(u"ClassGUID", REG_SZ, sim::Utf16ToBytes(NetClass + u'\0'));
        }

        std::u16string description = input.ConsumeBool() ? Widen(Prefix) : u"";
        if (!description.empty() && input.ConsumeBool()) {
            // One character changed: case, spacing or a letter.
            description[input.ConsumeIntegralInRange<std::size_t>(0, description.size() - 1)] = u'b';
        }
        description += Text(input, 8);
        if (input.ConsumeBool()) {
            description.resize(description.size() + InterestingLength(input), u'd');
        }
        if (input.ConsumeIntegralInRange(0, 7) != 0) {
            SetValue(input, *instance, u"DeviceDesc", MaybeIndirect(input, description));
        }
        if (input.ConsumeBool()) {
            std::u16string location = Text(input, 12);
            if (input.ConsumeBool()) {
                location.resize(InterestingLength(input), u'L');
            }
            SetValue(input, *instance, u"LocationInformation", MaybeIndirect(input, location));
        }
        if (input.ConsumeBool()) {
            const auto bytes =
                input.ConsumeBytes<unsigned char>(input.ConsumeIntegralInRange<std::size_t>(0, 6));
            instance->SetValue(u"UINumber", input.ConsumeBool() ? REG_DWORD : REG_BINARY, bytes);
        }
        switch (input.ConsumeIntegralInRange(0, 4)) {
        case 0:
            break;
        case 1:
            SetValue(input, *instance, u"Driver", Text(input, 6));
            break;
        default:
            instance->SetValue(
                u"Driver", REG_SZ,
                sim::Utf16ToBytes(NetClass + u"\\" +
                                  Widen("000" + std::to_string(input.ConsumeIntegralInRange(0, 9))) +
                                  (input.ConsumeBool() ? u"\\k\\k\\k" : u"") + u'\0'));
        }
    }
    AddDeepAndWideTrees(input, *enumKey, *classKey);
    return registry;
}

// The bytes a property read returns, when it succeeds at all.
std::optional<std::string> Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property)
{
    DWORD needed = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, &device, property, nullptr, nullptr, 0, &needed) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return std::nullopt;
    }
    std::string bytes(needed, '\0');
    if (!SetupDiGetDeviceRegistryPropertyA(set, &device, property, nullptr,
                                           reinterpret_cast<PBYTE>(bytes.data()), needed, nullptr)) {
        return std::nullopt;
    }
    return bytes;
}

std::string UpToNul(const std::string& bytes)
{
    return bytes.substr(0, bytes.find('\0'));
}

// An indirect string resolved without its resource, written apart from the platform's resolver:
// after the first ';' comes the fallback, and a ";(...)" that ends the text lists the arguments
// for %1 to %99. nullopt for text that is returned as stored.
std::optional<std::u16string> ModelResolve(const std::u16string& text)
{
    const std::size_t firstSemicolon = text.find(u';');
    if (text.empty() || text[0] != u'@' || firstSemicolon == std::u16string::npos) {
        return std::nullopt;
    }
    std::u16string fallback = text.substr(firstSemicolon + 1);
    std::vector<std::u16string> arguments;
    std::size_t open = std::u16string::npos;
    for (std::size_t i = fallback.size(); i >= 2; --i) {
        if (fallback[i - 2] == u';' && fallback[i - 1] == u'(') {
            open = i - 1;
            break;
        }
    }
    if (open != std::u16string::npos && fallback.back() == u')') {
        std::u16string argument;
        for (std::size_t i = open + 1; i + 1 < fallback.size(); ++i) {
            if (fallback[i] == u',') {
                arguments.push_back(argument);
                argument.clear();
            } else {
                argument += fallback[i];
            }
        }
        arguments.push_back(argument);
        fallback.resize(open - 1);
    }
    std::u16string resolved;
    std::size_t i = 0;
    while (i < fallback.size()) {
        const bool digit1 = i + 1 < fallback.size() && fallback[i + 1] >= u'0' && fallback[i + 1] <= u'9';
        const bool digit2 =
            digit1 && i + 2 < fallback.size() && fallback[i + 2] >= u'0' && fallback[i + 2] <= u'9';
        const std::size_t number =
            !digit1   ? 0
            : !digit2 ? static_cast<std::size_t>(fallback[i + 1] - u'0')
                      : static_cast<std::size_t>((fallback[i + 1] - u'0') * 10 + (fallback[i + 2] - u'0'));
        if (fallback[i] == u'%' && number >= 1 && number <= arguments.size()) {
            resolved += arguments[number - 1];
            i += digit2 ? 3 : 2;
        } else {
            resolved += fallback[i++];
        }
    }
    return resolved;
}

// A text property as the model expects it, from the value stored under the instance key.
std::optional<std::string> ModelProperty(const std::string& instanceId, const char* valueName)
{
    const auto stored =
        sim::ReadStoredValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\" + instanceId, valueName);
    if (!stored) {
        return std::nullopt;
    }
    if (stored->type == REG_SZ) {
        std::u16string text = sim::Utf16FromBytes(stored->data.data(), stored->data.size());
        text = text.substr(0, text.find(u'\0'));
        if (const auto resolved = ModelResolve(text)) {
            return sim::Utf16ToAnsi(*resolved) + std::string(1, '\0');
        }
    }
    const sim::Bytes& data = stored->data;
    if (stored->type == REG_SZ || stored->type == REG_EXPAND_SZ || stored->type == REG_MULTI_SZ) {
        return sim::Utf16ToAnsi(sim::Utf16FromBytes(data.data(), data.size()));
    }
    return std::string(data.begin(), data.end());
}

// The platform's answer for a text property must be the model's.
void CheckProperty(const std::string& instanceId, const char* valueName,
                   const std::optional<std::string>& platform)
{
    const auto model = ModelProperty(instanceId, valueName);
    if (model != platform) {
        fprintf(stderr, "%s of %s: the platform's answer differs from the model's\n", valueName,
                instanceId.c_str());
        std::abort();
    }
}

// What the report must print, from the platform's own answers.
std::string ExpectedReport()
{
    std::string report;
    HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, DIGCF_PRESENT);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        DWORD idSize = 0;
        SetupDiGetDeviceInstanceIdA(set, &device, nullptr, 0, &idSize);
        std::string instanceId(idSize, '\0');
        SetupDiGetDeviceInstanceIdA(set, &device, instanceId.data(), idSize, nullptr);
        instanceId = UpToNul(instanceId);
        const auto description = Property(set, device, SPDRP_DEVICEDESC);
        CheckProperty(instanceId, "DeviceDesc", description);
        if (idSize > PROPERTY_BUFFER_SIZE || !description || description->size() > PROPERTY_BUFFER_SIZE) {
            continue;
        }
        const std::string shown = UpToNul(*description);
        if (shown.compare(0, Prefix.size(), Prefix) != 0) {
            continue;
        }
        report += "\n* " + shown + "\n";
        const auto location = Property(set, device, SPDRP_LOCATION_INFORMATION);
        CheckProperty(instanceId, "LocationInformation", location);
        if (location && location->size() <= PROPERTY_BUFFER_SIZE) {
            report += "SPDRP_LOCATION_INFORMATION: " + UpToNul(*location) + "\n";
        }
        const auto uiNumber = Property(set, device, SPDRP_UI_NUMBER);
        if (uiNumber && uiNumber->size() <= 4) {
            std::uint32_t number = 0;
            std::memcpy(&number, uiNumber->data(), uiNumber->size());
            report += "SPDRP_UI_NUMBER: " + std::to_string(static_cast<std::int32_t>(number)) + "\n";
        }
        HKEY key =
            SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ | KEY_SET_VALUE);
        if (key == INVALID_HANDLE_VALUE) {
            report += "Error: Failed to open Registry key!!\n";
            continue;
        }
        std::string name(4096, '\0');
        DWORD size = static_cast<DWORD>(name.size());
        const bool read = RegQueryValueExA(key, "DeviceName", nullptr, nullptr,
                                           reinterpret_cast<LPBYTE>(name.data()), &size) == ERROR_SUCCESS;
        name.resize(read ? size : 0);
        // Shown only when it ends inside the 100-byte buffer; otherwise the line-feed placeholder.
        const bool whole = read && size <= 100 && (name.find('\0') != std::string::npos || size < 100);
        const std::string shownName = whole ? UpToNul(name) : "\n";
        report +=
            "GetRegistryStringValue(): DeviceName: " + shownName + "\nTaldric Name: " + shownName + "\n";
        RegCloseKey(key);
    }
    SetupDiDestroyDeviceInfoList(set);
    return report;
}

std::string ActualReport()
{
    char* buffer = nullptr;
    std::size_t length = 0;
    FILE* saved = stdout;
    stdout = open_memstream(&buffer, &length);
    PrintAdapterReport();
    fclose(stdout);
    stdout = saved;
    std::string report(buffer, length);
    free(buffer);
    return report;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    sim::ReplaceRegistry(BuildMachine(input));

    const sim::HandleCounts before = sim::Handles();
    const std::string actual = ActualReport();
    const sim::HandleCounts after = sim::Handles();
    if (after.openKeys != before.openKeys || after.openDeviceSets != before.openDeviceSets ||
        after.invalidHandleUses != before.invalidHandleUses) {
        fprintf(stderr, "handles not given back\n");
        std::abort();
    }
    const std::string expected = ExpectedReport();
    if (actual != expected) {
        fprintf(stderr, "report differs from the model\n--- expected\n%s\n--- actual\n%s\n", expected.c_str(),
                actual.c_str());
        std::abort();
    }
    return 0;
}
