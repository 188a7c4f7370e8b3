// Hostile registries: each situation with the one report it must give. The tool prints only what
// the platform returned for that adapter, never reads past a buffer, and never fails to finish.
#include "adapter_report/adapter_report.h"
#include "simulated_windows/simulated_platform.h"
#include "support/platform_test.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <optional>

using namespace test_support;
namespace sim = simulated_windows;

namespace {

const std::string Prefix(MakerPrefix);
const std::string Desc = "\"DeviceDesc\"=\"" + Prefix + "\"\n";
const std::string ToDriverKey = DriverValue("0000");
const std::string Header = "\n*   Brenlok Hardware Abstraction Driver\n";
const std::string NoKey = "Error: Failed to open Registry key!!\n";

// A machine of one network adapter with these instance-key values; with driver-key values, its
// "Driver" value names that key.
std::string OneAdapterRegFile(const std::string& instanceValues,
                              const std::optional<std::string>& driverValues = std::nullopt)
{
    if (!driverValues) {
        return RegFile({NetAdapter("ROOT\\NET\\0000", instanceValues)});
    }
    return RegFile(
        {NetAdapter("ROOT\\NET\\0000", instanceValues + ToDriverKey), NetDriverKey("0000", *driverValues)});
}

// The report of one adapter whose name read showed `name`.
std::string WithName(const std::string& name, const std::string& header = Header)
{
    return header + "GetRegistryStringValue(): DeviceName: " + name + "\nTaldric Name: " + name + "\n";
}

std::string Utf16Hex(const std::string& ascii)
{
    return HexBytes(Utf16Bytes(ascii));
}

struct Situation {
    const char* what;
    std::string machine;
    std::string report;
};

// The test's name already says which situation it is; without this GoogleTest appends the
// parameter's bytes to every name.
void PrintTo(const Situation& situation, std::ostream* out)
{
    *out << situation.what;
}

class BadInput : public PlatformTestWithParam<Situation> {};

TEST_P(BadInput, GivesItsOneReport)
{
    sim::LoadMachine(GetParam().machine);
    const sim::HandleCounts before = sim::Handles();
    EXPECT_EQ(CaptureStdout(PrintAdapterReport), GetParam().report);
    EXPECT_EQ(sim::Handles().openKeys, before.openKeys);
    EXPECT_EQ(sim::Handles().invalidHandleUses, before.invalidHandleUses);
}

const std::string Tail2094(PROPERTY_BUFFER_SIZE - 2 - Prefix.size(), 'd'); // with the NUL, 2095 bytes
const std::string LongName(255, 'K');

INSTANTIATE_TEST_SUITE_P(
    Report, BadInput,
    ::testing::Values(
        // printf directives are text like any other.
        Situation{
            "format directives in description, location and name",
            OneAdapterRegFile("\"DeviceDesc\"=\"" + Prefix + "%s%n%x\"\n\"LocationInformation\"=\"%s%n%x\"\n",
                              "\"DeviceName\"=\"%s%n%x\"\n"),
            WithName("%s%n%x", "\n*   Brenlok Hardware Abstraction Driver%s%n%x\n"
                               "SPDRP_LOCATION_INFORMATION: %s%n%x\n")},
        // Text stops at an embedded NUL.
        Situation{
            "embedded NULs",
            OneAdapterRegFile("\"DeviceDesc\"=hex(1):" + Utf16Hex(Prefix + std::string("\0hidden\0", 8)) +
                                  "\n\"LocationInformation\"=hex(1):" +
                                  Utf16Hex(std::string("bay\0hidden\0", 11)) + "\n",
                              "\"DeviceName\"=hex(1):" + Utf16Hex(std::string("ab\0cd\0", 6)) + "\n"),
            WithName("ab", Header + "SPDRP_LOCATION_INFORMATION: bay\n")},
        // The description buffer holds 2096 bytes, terminator included.
        Situation{"description of 2095 bytes",
                  OneAdapterRegFile("\"DeviceDesc\"=\"" + Prefix + Tail2094 + "\"\n"),
                  "\n* " + Prefix + Tail2094 + "\n" + NoKey},
        Situation{"description of 2096 bytes",
                  OneAdapterRegFile("\"DeviceDesc\"=\"" + Prefix + Tail2094 + "d\"\n"),
                  "\n* " + Prefix + Tail2094 + "d\n" + NoKey},
        Situation{"description of 2097 bytes is passed over",
                  OneAdapterRegFile("\"DeviceDesc\"=\"" + Prefix + Tail2094 + "dd\"\n"), ""},
        // Key names stop at 255 characters, so an instance identifier (three names) never comes
        // near 2096 bytes; a file with a longer name is refused (see the .reg tests).
        Situation{"the longest instance path there can be",
                  RegFile({NetAdapter(LongName + "\\" + LongName + "\\" + LongName, Desc)}), Header + NoKey},
        // "DeviceName" lengths, types and termination.
        Situation{"name of 99 characters",
                  OneAdapterRegFile(Desc, "\"DeviceName\"=\"" + std::string(99, 'n') + "\"\n"),
                  WithName(std::string(99, 'n'))},
        Situation{"name of 100 characters",
                  OneAdapterRegFile(Desc, "\"DeviceName\"=\"" + std::string(100, 'n') + "\"\n"),
                  WithName("\n")},
        Situation{"name of 101 characters",
                  OneAdapterRegFile(Desc, "\"DeviceName\"=\"" + std::string(101, 'n') + "\"\n"),
                  WithName("\n")},
        Situation{"no name value", OneAdapterRegFile(Desc, "\"Other\"=\"z\"\n"), WithName("\n")},
        Situation{"empty name", OneAdapterRegFile(Desc, "\"DeviceName\"=\"\"\n"), WithName("")},
        Situation{"zero-length name", OneAdapterRegFile(Desc, "\"DeviceName\"=hex(1):\n"), WithName("")},
        Situation{"REG_DWORD name: its four bytes",
                  OneAdapterRegFile(Desc, "\"DeviceName\"=dword:41424344\n"), WithName("DCBA")},
        Situation{"REG_QWORD name",
                  OneAdapterRegFile(Desc, "\"DeviceName\"=hex(b):41,42,43,44,45,46,47,48\n"),
                  WithName("ABCDEFGH")},
        Situation{"REG_BINARY name, up to its NUL",
                  OneAdapterRegFile(Desc, "\"DeviceName\"=hex:62,69,6e,00,72,79\n"), WithName("bin")},
        Situation{"REG_MULTI_SZ name: its first string",
                  OneAdapterRegFile(Desc, "\"DeviceName\"=hex(7):" +
                                              Utf16Hex(std::string("one\0two\0\0", 9)) + "\n"),
                  WithName("one")},
        Situation{"REG_EXPAND_SZ name, unexpanded",
                  OneAdapterRegFile(Desc, "\"DeviceName\"=hex(2):" + Utf16Hex(std::string("%Root%\\x\0", 9)) +
                                              "\n"),
                  WithName("%Root%\\x")},
        Situation{"REG_SZ of 100 bytes without terminator (50 characters)",
                  OneAdapterRegFile(Desc, "\"DeviceName\"=hex(1):" + Utf16Hex(std::string(50, 'u')) + "\n"),
                  WithName(std::string(50, 'u'))},
        Situation{"REG_SZ of 100 characters without terminator",
                  OneAdapterRegFile(Desc, "\"DeviceName\"=hex(1):" + Utf16Hex(std::string(100, 'v')) + "\n"),
                  WithName("\n")},
        Situation{"characters Windows-1252 cannot map",
                  Utf16RegFile(OneAdapterRegFile("\"DeviceDesc\"=\"" + Prefix + " Ω\"\n",
                                                 "\"DeviceName\"=\"中文😀\"\n")),
                  WithName("????", "\n*   Brenlok Hardware Abstraction Driver O\n")},
        // UI numbers are signed, whatever the value holds.
        Situation{"UI number 0", OneAdapterRegFile(Desc + "\"UINumber\"=dword:00000000\n"),
                  Header + "SPDRP_UI_NUMBER: 0\n" + NoKey},
        Situation{"UI number 0x7FFFFFFF", OneAdapterRegFile(Desc + "\"UINumber\"=dword:7fffffff\n"),
                  Header + "SPDRP_UI_NUMBER: 2147483647\n" + NoKey},
        Situation{"UI number 0x80000000", OneAdapterRegFile(Desc + "\"UINumber\"=dword:80000000\n"),
                  Header + "SPDRP_UI_NUMBER: -2147483648\n" + NoKey},
        Situation{"UI number 0xFFFFFFFF", OneAdapterRegFile(Desc + "\"UINumber\"=dword:ffffffff\n"),
                  Header + "SPDRP_UI_NUMBER: -1\n" + NoKey},
        Situation{"UI number stored as text: its bytes \"12\\0\"",
                  OneAdapterRegFile(Desc + "\"UINumber\"=\"12\"\n"),
                  Header + "SPDRP_UI_NUMBER: 12849\n" + NoKey},
        Situation{"UI number of two bytes", OneAdapterRegFile(Desc + "\"UINumber\"=hex(4):fe,ff\n"),
                  Header + "SPDRP_UI_NUMBER: 65534\n" + NoKey},
        Situation{"UI number of eight bytes cannot be read",
                  OneAdapterRegFile(Desc + "\"UINumber\"=hex(b):1,0,0,0,0,0,0,0\n"), Header + NoKey},
        // Driver values that name no key.
        Situation{"Driver names no key", OneAdapterRegFile(Desc + DriverValue("0009")), Header + NoKey},
        Situation{"empty Driver", OneAdapterRegFile(Desc + "\"Driver\"=\"\"\n"), Header + NoKey},
        Situation{"Driver climbing out of Class",
                  OneAdapterRegFile(Desc + "\"Driver\"=\"..\\\\..\\\\Enum\\\\ROOT\\\\NET\\\\0000\"\n"),
                  Header + NoKey},
        Situation{"Driver that is not text", OneAdapterRegFile(Desc + "\"Driver\"=dword:00000000\n"),
                  Header + NoKey}),
    [](const ::testing::TestParamInfo<Situation>& info) {
        std::string name;
        for (const char c : std::string(info.param.what)) {
            name += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
        }
        return name;
    });

// At scale, 10,000 adapters. Suites named *Scale are labelled slow and run in the native pass only
// (tests/CMakeLists.txt).
class BadInputScale : public PlatformTest {};

TEST_F(BadInputScale, TenThousandAdapters)
{
    std::string machine = "REGEDIT4\n";
    std::string expected;
    for (int i = 0; i < 10000; ++i) {
        char instance[8];
        snprintf(instance, sizeof instance, "%04d", i);
        const bool matching = i % 2 == 0;
        machine += NetAdapter(std::string("ROOT\\NET\\") + instance,
                              "\"DeviceDesc\"=\"" + (matching ? Prefix : "Other") + " " + instance + "\"\n" +
                                  DriverValue(instance)) +
                   NetDriverKey(instance, "\"DeviceName\"=\"if" + std::string(instance) + "\"\n");
        if (matching) {
            expected += WithName("if" + std::string(instance), "\n* " + Prefix + " " + instance + "\n");
        }
    }
    sim::LoadMachine(machine);
    EXPECT_EQ(CaptureStdout(PrintAdapterReport), expected);
}

} // namespace
