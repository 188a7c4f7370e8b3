// The simulated platform behaves as Windows documents, wherever the tool could tell.
#include "code_page.h"
#include "registry.h"
#include "simulated_windows/simulated_platform.h"
#include "support/platform_test.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

using namespace test_support;
namespace sim = simulated_windows;

namespace {

const std::string TwoAdapters = RegFile({
    NetAdapter("ROOT\\NET\\0001",
               std::string("\"DeviceDesc\"=\"Bogus\"\n\"UINumber\"=dword:00000005\n") + DriverValue("0001")),
    NetAdapter("root\\net\\0000", "\"DeviceDesc\"=\"First\"\n"),
    NetDriverKey("0001", "\"DeviceName\"=\"Name\"\n"),
});

class SetupApiTest : public PlatformTest {
  protected:
    void SetUp() override
    {
        PlatformTest::SetUp();
        sim::LoadMachine(TwoAdapters);
        set_ = SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, DIGCF_PRESENT);
        ASSERT_NE(set_, INVALID_HANDLE_VALUE);
        record_.cbSize = sizeof record_;
    }
    void TearDown() override { EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set_)); }

    HDEVINFO set_ = nullptr;
    SP_DEVINFO_DATA record_{};
};

TEST_F(SetupApiTest, MembersComeInRegistryOrderThenNoMoreItems)
{
    char id[64];
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set_, 0, &record_));
    ASSERT_TRUE(SetupDiGetDeviceInstanceIdA(set_, &record_, id, sizeof id, nullptr));
    EXPECT_STREQ(id, "ROOT\\NET\\0000"); // keys keep the spelling they were created with
    EXPECT_EQ(std::memcmp(&record_.ClassGuid, &GUID_DEVCLASS_NET, sizeof(GUID)), 0);
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set_, 1, &record_));
    ASSERT_TRUE(SetupDiGetDeviceInstanceIdA(set_, &record_, id, sizeof id, nullptr));
    EXPECT_STREQ(id, "ROOT\\NET\\0001");

    SetLastError(0);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set_, 2, &record_));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
}

TEST_F(SetupApiTest, RecordsAndHandlesAreChecked)
{
    SP_DEVINFO_DATA wrongSize{};
    wrongSize.cbSize = sizeof wrongSize - 4;
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set_, 0, &wrongSize));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));

    EXPECT_FALSE(SetupDiEnumDeviceInfo(INVALID_HANDLE_VALUE, 0, &record_));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    // A record that no enumeration filled names no member.
    char id[64];
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdA(set_, &record_, id, sizeof id, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(SetupApiTest, InstanceIdSizesCountCharactersWithTheTerminator)
{
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set_, 1, &record_));
    char id[14];
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdA(set_, &record_, id, 13, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, 14u);
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdA(set_, &record_, nullptr, 14, &required)); // a size, no buffer
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    EXPECT_TRUE(SetupDiGetDeviceInstanceIdA(set_, &record_, id, 14, &required));
    EXPECT_STREQ(id, "ROOT\\NET\\0001");
}

TEST_F(SetupApiTest, PropertiesReadTheInstanceKeyValues)
{
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set_, 1, &record_));
    DWORD type = 0;
    DWORD required = 0;
    EXPECT_FALSE(
        SetupDiGetDeviceRegistryPropertyA(set_, &record_, SPDRP_DEVICEDESC, &type, nullptr, 0, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, 6u); // ANSI bytes of "Bogus" with its terminator
    EXPECT_FALSE(
        SetupDiGetDeviceRegistryPropertyA(set_, &record_, SPDRP_DEVICEDESC, &type, nullptr, 6, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA)); // a size without a buffer

    BYTE text[6];
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyA(set_, &record_, SPDRP_DEVICEDESC, &type, text, sizeof text,
                                                  nullptr));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(reinterpret_cast<char*>(text), "Bogus");

    DWORD number = 0;
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyA(set_, &record_, SPDRP_UI_NUMBER, &type,
                                                  reinterpret_cast<PBYTE>(&number), sizeof number, nullptr));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(number, 5u);

    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set_, &record_, SPDRP_LOCATION_INFORMATION, &type, text,
                                                   sizeof text, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_FALSE(
        SetupDiGetDeviceRegistryPropertyA(set_, &record_, 0x7777, &type, text, sizeof text, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_REG_PROPERTY);
}

TEST_F(SetupApiTest, DriverKeyOpensFromTheDriverValueOrFails)
{
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set_, 1, &record_));
    HKEY key = SetupDiOpenDevRegKey(set_, &record_, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    ASSERT_NE(key, INVALID_HANDLE_VALUE);
    char name[16];
    DWORD size = sizeof name;
    EXPECT_EQ(RegQueryValueExA(key, "devicename", nullptr, nullptr, reinterpret_cast<LPBYTE>(name), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "Name");
    // Opened for reading only: storing is refused.
    EXPECT_EQ(RegSetValueExA(key, "X", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);

    EXPECT_EQ(SetupDiOpenDevRegKey(set_, &record_, 0, 0, DIREG_DRV, KEY_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));

    // No rights asked for: refused, but only once the key is found.
    EXPECT_EQ(SetupDiOpenDevRegKey(set_, &record_, DICS_FLAG_GLOBAL, 0, DIREG_DRV, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));

    ASSERT_TRUE(SetupDiEnumDeviceInfo(set_, 0, &record_));
    for (const REGSAM access : {REGSAM{KEY_READ}, REGSAM{0}}) {
        EXPECT_EQ(SetupDiOpenDevRegKey(set_, &record_, DICS_FLAG_GLOBAL, 0, DIREG_DRV, access),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_KEY_DOES_NOT_EXIST);
    }
}

class SetupApi : public PlatformTest {};

// The scope decides which copy of a device's keys opens: the machine's own, or the one kept for a
// hardware profile (0 the current one), which most machines never create.
TEST_F(SetupApi, DeviceKeysOpenInTheirScope)
{
    const std::string profile =
        "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current\\System\\"
        "CurrentControlSet\\";
    sim::LoadMachine(RegFile({
        NetAdapter("ROOT\\NET\\0000", DriverValue("0000")),
        "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\NET\\0000\\Device Parameters]\n"
        "\"Scope\"=\"device, global\"\n",
        NetDriverKey("0000", "\"Scope\"=\"driver, global\"\n"),
        profile + "Control\\Class\\" + std::string(NetClass) +
            "\\0000]\n\"Scope\"=\"driver, current profile\"\n",
        profile + "Enum\\ROOT\\NET\\0000]\n\"Scope\"=\"device, current profile\"\n",
    }));
    HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, DIGCF_PRESENT);
    SP_DEVINFO_DATA record{};
    record.cbSize = sizeof record;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &record));
    const auto scopeOf = [&](DWORD scope, DWORD profileNumber, DWORD keyType) -> std::string {
        HKEY key = SetupDiOpenDevRegKey(set, &record, scope, profileNumber, keyType, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) {
            return GetLastError() == ERROR_KEY_DOES_NOT_EXIST ? "no key" : "other error";
        }
        char text[32] = "";
        DWORD size = sizeof text;
        RegQueryValueExA(key, "Scope", nullptr, nullptr, reinterpret_cast<LPBYTE>(text), &size);
        RegCloseKey(key);
        return text;
    };
    EXPECT_EQ(scopeOf(DICS_FLAG_GLOBAL, 0, DIREG_DRV), "driver, global");
    EXPECT_EQ(scopeOf(DICS_FLAG_GLOBAL, 7, DIREG_DRV),
              "driver, global"); // the profile is for the other scope
    EXPECT_EQ(scopeOf(DICS_FLAG_GLOBAL, 0, DIREG_DEV), "device, global");
    EXPECT_EQ(scopeOf(DICS_FLAG_CONFIGSPECIFIC, 0, DIREG_DRV), "driver, current profile");
    EXPECT_EQ(scopeOf(DICS_FLAG_CONFIGSPECIFIC, 0, DIREG_DEV), "device, current profile");
    EXPECT_EQ(scopeOf(DICS_FLAG_CONFIGSPECIFIC, 1, DIREG_DRV), "no key"); // profile 0001 was never made
    SetupDiDestroyDeviceInfoList(set);
}

// Keys carry the rights Windows gives them: a standard user reads HKEY_LOCAL_MACHINE but may not
// open its keys for writing, nor create any; HKEY_CURRENT_USER is the user's own.
TEST_F(SetupApi, AStandardUserMayOnlyReadTheMachinesKeys)
{
    sim::LoadMachine(TwoAdapters);
    sim::RunAs(sim::User::Standard);
    HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, DIGCF_PRESENT);
    SP_DEVINFO_DATA record{};
    record.cbSize = sizeof record;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 1, &record));
    for (const REGSAM access : {REGSAM{KEY_READ | KEY_SET_VALUE}, REGSAM{GENERIC_WRITE}}) {
        EXPECT_EQ(SetupDiOpenDevRegKey(set, &record, DICS_FLAG_GLOBAL, 0, DIREG_DRV, access),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    for (const REGSAM access : {REGSAM{KEY_READ}, REGSAM{GENERIC_READ}, REGSAM{MAXIMUM_ALLOWED}}) {
        HKEY key = SetupDiOpenDevRegKey(set, &record, DICS_FLAG_GLOBAL, 0, DIREG_DRV, access);
        ASSERT_NE(key, INVALID_HANDLE_VALUE) << access;
        EXPECT_EQ(RegQueryValueExA(key, "DeviceName", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExA(key, "X", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
                  ERROR_ACCESS_DENIED);
        RegCloseKey(key);
    }
    SetupDiDestroyDeviceInfoList(set);

    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_SET_VALUE, &key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr),
        ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetValueExA(HKEY_LOCAL_MACHINE, "X", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
              ERROR_ACCESS_DENIED);
    // The disposition tells a key made from one that was there. Backslashes after the last name
    // name nothing, to RegCreateKeyExA and RegOpenKeyExA alike.
    for (const auto& [path, expected] : {std::pair{"Software\\Mine", DWORD{REG_CREATED_NEW_KEY}},
                                         std::pair{"Software\\Mine\\\\", DWORD{REG_OPENED_EXISTING_KEY}}}) {
        DWORD disposition = 0;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  &disposition),
                  ERROR_SUCCESS);
        EXPECT_EQ(disposition, expected);
        EXPECT_EQ(RegSetValueExA(key, "X", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2), ERROR_SUCCESS);
        RegCloseKey(key);
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key), ERROR_SUCCESS);
        RegCloseKey(key);
    }

    sim::RunAs(sim::User::Administrator);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(SetupApi, ClassAndFlagsSelectTheSet)
{
    sim::LoadMachine(TwoAdapters);
    EXPECT_EQ(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    const GUID display = {0x4D36E968, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
    HDEVINFO set = SetupDiGetClassDevsA(&display, nullptr, nullptr, DIGCF_PRESENT);
    SP_DEVINFO_DATA record{};
    record.cbSize = sizeof record;
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &record)); // a query matching nothing is an empty set
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    // An enumerator, in any letter case, keeps the devices it enumerated; a device path of an
    // enumerator and a device, the devices below it.
    sim::LoadMachine(RegFile({NetAdapter("ROOT\\NET\\0000", ""), NetAdapter("ROOT\\OTHER\\1", ""),
                              NetAdapter("PCI\\VEN_1&DEV_2\\3", "")}));
    for (const auto& [enumerator, expected] :
         {std::pair{"root", "ROOT\\NET\\0000 ROOT\\OTHER\\1 "}, std::pair{"PCI", "PCI\\VEN_1&DEV_2\\3 "},
          std::pair{"Root\\other", "ROOT\\OTHER\\1 "}}) {
        set = SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, enumerator, nullptr, DIGCF_PRESENT);
        std::string ids;
        char id[64];
        for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &record); ++i) {
            EXPECT_TRUE(SetupDiGetDeviceInstanceIdA(set, &record, id, sizeof id, nullptr));
            ids += std::string(id) + " ";
        }
        EXPECT_EQ(ids, expected);
        SetupDiDestroyDeviceInfoList(set);
    }
}

class Controls : public PlatformTest {};

// Whatever a test changed, ResetPlatform goes back to what the process started with: the sample
// machine, every device present, an administrator, no failure made, no handle open or misused, no
// last error; a handle from before stays invalid.
TEST_F(Controls, ResetPlatformGoesBackToTheStartState)
{
    sim::LoadMachine(TwoAdapters);
    sim::LoadPresentDevices("InstanceId\nROOT\\NET\\0001\n", "present.csv");
    sim::RunAs(sim::User::Standard);
    sim::FailDeviceSetRequests(ERROR_NOT_ENOUGH_MEMORY);
    HKEY before = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_READ, &before), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(std::uintptr_t{4})), ERROR_INVALID_HANDLE);
    EXPECT_EQ(sim::Handles().invalidHandleUses, 1u);
    SetLastError(ERROR_ACCESS_DENIED);

    sim::ResetPlatform();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    const sim::HandleCounts counts = sim::Handles();
    EXPECT_EQ(counts.openKeys, 0u);
    EXPECT_EQ(counts.openDeviceSets, 0u);
    EXPECT_EQ(counts.invalidHandleUses, 0u);
    EXPECT_TRUE(sim::ReadStoredValue(HKEY_LOCAL_MACHINE,
                                     "SYSTEM\\CurrentControlSet\\Enum\\ROOT\\BRENLOK_HAD\\0000", "UINumber"));
    HKEY writable = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_SET_VALUE, &writable), ERROR_SUCCESS);
    RegCloseKey(writable);
    const auto members = [](DWORD flags) {
        HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, flags);
        EXPECT_NE(set, INVALID_HANDLE_VALUE);
        SP_DEVINFO_DATA record{};
        record.cbSize = sizeof record;
        DWORD count = 0;
        while (SetupDiEnumDeviceInfo(set, count, &record)) {
            ++count;
        }
        SetupDiDestroyDeviceInfoList(set);
        return count;
    };
    EXPECT_GT(members(DIGCF_PRESENT), 1u);
    EXPECT_EQ(members(DIGCF_PRESENT), members(0));
    EXPECT_EQ(RegCloseKey(before), ERROR_INVALID_HANDLE);
}

class IndirectStrings : public PlatformTest {};

// Indirect strings resolve, when their resource cannot be loaded, to the fallback with its
// arguments put in; the sizes and type are those of the resolved string. The registry functions
// still return the stored text.
TEST_F(IndirectStrings, ResolveToTheirFallbackWithTheArgumentsPutIn)
{
    const std::pair<const char*, const char*> cases[] = {
        {"@pci.sys,#65536;PCI bus %1, device %2, function %3;(0,31,6)", "PCI bus 0, device 31, function 6"},
        {"@x.inf,%Desc%;Plain fallback", "Plain fallback"},
        {"@x.inf,%StdMfg%;", ""},
        {"@x.inf,%NoFallback%", "@x.inf,%NoFallback%"},
        {"@a;%2 then %1 and %3, 100%;(one,two)", "two then one and %3, 100%"},
        {"@a;%10 is the tenth;(1,2,3,4,5,6,7,8,9,ten)", "ten is the tenth"},
        {"@a;semi;colons %1;(x)", "semi;colons x"},
        {"@a;see %1;(note);(arg)", "see arg;(note)"},
        {"@a;unclosed %1;(0,31", "unclosed %1;(0,31"},
        {"@a;not last;(x) %1", "not last;(x) %1"},
        {"@a;empty %1%2;(,)", "empty "},
        {"not @ first;(x)", "not @ first;(x)"},
    };
    for (const auto& [stored, resolved] : cases) {
        SCOPED_TRACE(stored);
        std::string escaped;
        for (const char c : std::string(stored)) {
            escaped += c == '\\' ? "\\\\" : std::string(1, c);
        }
        sim::LoadMachine(
            RegFile({NetAdapter("ROOT\\NET\\0000", "\"LocationInformation\"=\"" + escaped + "\"\n")}));
        HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, DIGCF_PRESENT);
        SP_DEVINFO_DATA record{};
        record.cbSize = sizeof record;
        ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &record));
        char text[128];
        DWORD type = 0;
        DWORD required = 0;
        ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &record, SPDRP_LOCATION_INFORMATION, &type,
                                                      reinterpret_cast<PBYTE>(text), sizeof text, &required));
        EXPECT_EQ(std::string(text), resolved);
        EXPECT_EQ(required, std::strlen(resolved) + 1);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        SetupDiDestroyDeviceInfoList(set);
        const auto raw = sim::ReadStoredValue(
            HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\ROOT\\NET\\0000", "LocationInformation");
        ASSERT_TRUE(raw);
        EXPECT_EQ(raw->data.size(), 2 * (std::strlen(stored) + 1));
    }
}

class RegistryApiTest : public PlatformTest {
  protected:
    void SetUp() override
    {
        PlatformTest::SetUp();
        sim::LoadMachine(
            Utf16RegFile("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Check]\n"
                         "\"Greek\"=\"Ωmega\"\n"
                         "\"Unterminated\"=hex(1):61,00,62,00\n"
                         "\"Number\"=dword:01020304\n"));
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\check", 0, KEY_READ, &key_), ERROR_SUCCESS);
    }
    void TearDown() override { RegCloseKey(key_); }

    HKEY key_ = nullptr;
};

TEST_F(RegistryApiTest, QueryReportsAnsiSizesAndMissingValues)
{
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key_, "Greek", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u); // "Omega" and the terminator, one byte a character
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

    // A missing value's size is 0 when only the size is asked for, and left alone with a buffer.
    EXPECT_EQ(RegQueryValueExA(key_, "Absent", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(size, 0u);
    BYTE data[8];
    size = sizeof data;
    EXPECT_EQ(RegQueryValueExA(key_, "Absent", nullptr, &type, data, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(size, sizeof data);
    EXPECT_EQ(RegQueryValueExA(key_, "Number", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(std::memcmp(data, "\x04\x03\x02\x01", 4), 0);
    // The room is read before the type is written into the same variable.
    size = 6;
    EXPECT_EQ(RegQueryValueExA(key_, "Greek", nullptr, &size, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
}

// Opening and creating keys answer as on Windows (Wine's registry tests, test_reg_open_key and
// test_reg_create_key). The rows run in order: later ones find the keys earlier ones made.
TEST_F(RegistryApiTest, OpenAndCreateAnswerAsWindowsDoes)
{
    enum class Handed { Nothing, Untouched, TheBase, ANewHandle };
    // A 64-bit caller's predefined key with bits set above the low 32.
    const auto highBits = reinterpret_cast<HKEY>(reinterpret_cast<ULONG_PTR>(HKEY_CURRENT_USER) |
                                                 (ULONG_PTR{0xDEADBEEF} << 32));
    struct Row {
        HKEY base;
        const char* subKey;
        bool create;
        DWORD options;
        LSTATUS status;
        Handed handed;
    };
    const Row rows[] = {
        {HKEY_CURRENT_USER, "Software\\Missing", false, 0, ERROR_FILE_NOT_FOUND, Handed::Nothing},
        {HKEY_CURRENT_USER, "\\Software", false, 0, ERROR_BAD_PATHNAME, Handed::Nothing},
        {HKEY_CURRENT_USER, "\\Software", true, 0, ERROR_BAD_PATHNAME, Handed::Nothing},
        {nullptr, "Software", false, 0, ERROR_INVALID_HANDLE, Handed::Untouched},
        {HKEY_CURRENT_USER, nullptr, false, 0, ERROR_SUCCESS, Handed::TheBase},
        {HKEY_CURRENT_USER, "", false, 0, ERROR_SUCCESS, Handed::TheBase},
        {HKEY_CURRENT_USER, "\\", false, 0, ERROR_SUCCESS, Handed::ANewHandle},
        {highBits, "Software", false, 0, ERROR_SUCCESS, Handed::ANewHandle},
        {HKEY_CURRENT_USER, "Software\\Volatile", true, REG_OPTION_VOLATILE, ERROR_SUCCESS,
         Handed::ANewHandle},
        {HKEY_CURRENT_USER, "Software\\Volatile\\A\\B", true, 0, ERROR_CHILD_MUST_BE_VOLATILE,
         Handed::Nothing},
        {HKEY_CURRENT_USER, "Software\\Volatile\\A\\B", true, REG_OPTION_VOLATILE, ERROR_SUCCESS,
         Handed::ANewHandle},
        {HKEY_CURRENT_USER, "Software\\Volatile\\A\\B", true, 0, ERROR_SUCCESS, Handed::ANewHandle},
        {HKEY_CURRENT_USER, "Software\\Check\\Lasting", true, 0, ERROR_SUCCESS, Handed::ANewHandle},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.subKey != nullptr ? row.subKey : "no subkey");
        HKEY result = key_;
        EXPECT_EQ(row.create ? RegCreateKeyExA(row.base, row.subKey, 0, nullptr, row.options, KEY_ALL_ACCESS,
                                               nullptr, &result, nullptr)
                             : RegOpenKeyExA(row.base, row.subKey, 0, KEY_READ, &result),
                  row.status);
        EXPECT_EQ(result == nullptr    ? Handed::Nothing
                  : result == key_     ? Handed::Untouched
                  : result == row.base ? Handed::TheBase
                                       : Handed::ANewHandle,
                  row.handed);
        if (result != key_) {
            RegCloseKey(result);
        }
    }
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\New", 0, nullptr, 0, KEY_READ, nullptr, nullptr,
                              nullptr),
              ERROR_BADKEY);
}

TEST_F(RegistryApiTest, TooSmallABufferIsLeftAsItWas)
{
    char data[4] = {'z', 'z', 'z', 'z'};
    DWORD size = 3;
    EXPECT_EQ(RegQueryValueExA(key_, "Greek", nullptr, nullptr, reinterpret_cast<LPBYTE>(data), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(std::string(data, 4), "zzzz");
}

// Windows terminates an unterminated string on the way out when the buffer has room for it, and
// does not count the terminator; with no room the string comes back as stored.
TEST_F(RegistryApiTest, AStringStoredWithoutTerminatorIsTerminatedWhenThereIsRoom)
{
    for (const DWORD room : {2u, 3u}) {
        char data[4] = {'z', 'z', 'z', 'z'};
        DWORD size = room;
        EXPECT_EQ(
            RegQueryValueExA(key_, "Unterminated", nullptr, nullptr, reinterpret_cast<LPBYTE>(data), &size),
            ERROR_SUCCESS);
        EXPECT_EQ(size, 2u);
        EXPECT_EQ(std::string(data, 4), room == 2 ? "abzz" : std::string("ab\0z", 4));
    }
}

// RegSetValueExA stores the terminator of a string whose size leaves out exactly the terminator;
// a size that leaves out more stores the string unterminated.
TEST_F(RegistryApiTest, SetValueAddsTheTerminatorThatTheSizeJustMissed)
{
    HKEY writable = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Check", 0, KEY_SET_VALUE, &writable),
              ERROR_SUCCESS);
    const char text[] = "FullString";
    const char multi[] = "Aa\0Bb\0Cc\0"; // and the literal's own terminator
    const auto bytes = [](const char* data) { return reinterpret_cast<const BYTE*>(data); };
    EXPECT_EQ(RegSetValueExA(writable, "OneShort", 0, REG_SZ, bytes(text), sizeof text - 1), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(writable, "TwoShort", 0, REG_SZ, bytes(text), sizeof text - 2), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(writable, "MultiOneShort", 0, REG_MULTI_SZ, bytes(multi), sizeof multi - 1),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(writable, "MultiTwoShort", 0, REG_MULTI_SZ, bytes(multi), sizeof multi - 2),
              ERROR_SUCCESS);
    RegCloseKey(writable);
    const auto storedSize = [&](const char* name) {
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExA(key_, name, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
        return size;
    };
    EXPECT_EQ(storedSize("OneShort"), 11u);
    EXPECT_EQ(storedSize("TwoShort"), 9u);
    EXPECT_EQ(storedSize("MultiOneShort"), 9u); // ends in a terminator already: nothing added
    EXPECT_EQ(storedSize("MultiTwoShort"), 9u);
}

TEST(CodePage, Windows1252RoundTripsAndBestFits)
{
    std::string everyByte;
    for (int b = 1; b < 256; ++b) {
        everyByte.push_back(static_cast<char>(b));
    }
    EXPECT_EQ(sim::Utf16ToAnsi(sim::AnsiToUtf16(everyByte)), everyByte);
    EXPECT_EQ(sim::AnsiToUtf16("\x80\x81\x9F"), u"\u20AC\u0081\u0178");
    EXPECT_EQ(sim::Utf16ToAnsi(u"\u03A9\u0100\u4E2D\U0001F600"), "OA???");
    // Hives and presence lists come as UTF-8: a character beyond the BMP is a surrogate pair, a
    // malformed or overlong sequence U+FFFD a byte.
    EXPECT_EQ(sim::Utf8ToUtf16("\xCE\xA9\xF0\x9F\x98\x80\xE0\x80\x80"),
              u"\u03A9\U0001F600\uFFFD\uFFFD\uFFFD");
}

TEST(Registry, SubkeysEnumerateByUpperCasedName)
{
    sim::Registry registry;
    const auto root = registry.Root(sim::RootKey::CurrentUser);
    for (const char16_t* name : {u"beta", u"Alpha", u"_under", u"ALPHA2", u"\u00e9t\u00e9"}) {
        root->CreateSubkey(name);
    }
    std::u16string order;
    for (const auto& key : root->Subkeys()) {
        order += key->Name() + u" ";
    }
    // '_' (0x5F) sorts after the capitals it is compared with, as on Windows.
    EXPECT_EQ(order, u"Alpha ALPHA2 beta _under \u00e9t\u00e9 ");
    EXPECT_EQ(root->FindSubkey(u"\u00c9T\u00c9")->Name(), u"\u00e9t\u00e9");
    // Compared as Windows compares names: Latin-1's small letters but the division sign, and
    // Latin Extended-A's pairs, whose capitals stand on even code points, then on odd ones.
    root->CreateSubkey(u"\u00e0\u00fe\u00f7\u00ff\u0101\u0138\u013a\u017e");
    EXPECT_NE(root->FindSubkey(u"\u00c0\u00de\u00f7\u0178\u0100\u0138\u0139\u017d"), nullptr);
    EXPECT_EQ(root->FindSubkey(u"\u00c0\u00de\u00d7\u0178\u0100\u0138\u0139\u017d"), nullptr);
}

} // namespace
