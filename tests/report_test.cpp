// The whole report, byte for byte, over machines written as .reg files.
#include "adapter_report/adapter_report.h"
#include "simulated_windows/simulated_platform.h"
#include "support/platform_test.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace test_support;
namespace sim = simulated_windows;

namespace {

const std::string Prefix(MakerPrefix);

class Report : public PlatformTest {};

// Loads the machine, runs the report and checks that it gave back every handle it took and never
// handed the platform one it did not hold.
std::string ReportOf(const std::string& regFile)
{
    sim::LoadMachine(regFile);
    const sim::HandleCounts before = sim::Handles();
    const std::string report = CaptureStdout(PrintAdapterReport);
    const sim::HandleCounts after = sim::Handles();
    EXPECT_EQ(after.openKeys, before.openKeys);
    EXPECT_EQ(after.openDeviceSets, before.openDeviceSets);
    EXPECT_EQ(after.invalidHandleUses, before.invalidHandleUses);
    return report;
}

std::string Driver(const std::string& index)
{
    return DriverValue(index);
}

std::string NameLines(const std::string& name)
{
    return "GetRegistryStringValue(): DeviceName: " + name + "\nTaldric Name: " + name + "\n";
}

TEST_F(Report, NoMatchingAdapterPrintsNothing)
{
    EXPECT_EQ(ReportOf(RegFile({})), "");
    EXPECT_EQ(ReportOf(RegFile(
                  {NetAdapter("PCI\\VEN_1\\0", "\"DeviceDesc\"=\"Generic Ethernet\"\n" + Driver("0000")),
                   NetDriverKey("0000", "\"DeviceName\"=\"x\"\n")})),
              "");
}

TEST_F(Report, SelectsByTheExactPrefixWithItsTwoSpaces)
{
    const std::string machine = RegFile({
        NetAdapter("ROOT\\NET\\0000", "\"DeviceDesc\"=\"" + Prefix + "\"\n" + Driver("0000")),
        NetAdapter("ROOT\\NET\\0001",
                   "\"DeviceDesc\"=\"Brenlok Hardware Abstraction Driver\"\n" + Driver("0000")),
        NetAdapter("ROOT\\NET\\0002",
                   "\"DeviceDesc\"=\" Brenlok Hardware Abstraction Driver\"\n" + Driver("0000")),
        NetAdapter("ROOT\\NET\\0003",
                   "\"DeviceDesc\"=\"  brenlok hardware abstraction driver\"\n" + Driver("0000")),
        NetAdapter("ROOT\\NET\\0004",
                   "\"DeviceDesc\"=\"  Brenlok Hardware Abstraction Drive\"\n" + Driver("0000")),
        NetAdapter("ROOT\\NET\\0005", "\"DeviceDesc\"=\"" + Prefix + " (port 2)\"\n" + Driver("0000")),
        NetDriverKey("0000", "\"DeviceName\"=\"eth\"\n"),
    });
    EXPECT_EQ(ReportOf(machine), "\n*   Brenlok Hardware Abstraction Driver\n" + NameLines("eth") +
                                     "\n*   Brenlok Hardware Abstraction Driver (port 2)\n" +
                                     NameLines("eth"));
}

TEST_F(Report, BlocksFollowRegistryOrderWhateverTheFileOrder)
{
    // Enumerators, devices and instances sort case-insensitively; other classes are not listed.
    const std::string machine = RegFile({
        NetAdapter("ROOT\\b\\1", "\"DeviceDesc\"=\"" + Prefix + " C\"\n" + Driver("0003")),
        NetAdapter("pci\\Z\\0", "\"DeviceDesc\"=\"Other maker\"\n" + Driver("0002")),
        NetAdapter("PCI\\a\\0", "\"DeviceDesc\"=\"" + Prefix + " A\"\n" + Driver("0001")),
        NetAdapter("ROOT\\B\\0", "\"DeviceDesc\"=\"" + Prefix + " B\"\n" + Driver("0002")),
        "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ACPI\\X\\0]\n"
        "\"ClassGUID\"=\"{4d36e968-e325-11ce-bfc1-08002be10318}\"\n\"DeviceDesc\"=\"" +
            Prefix + " display\"\n" + Driver("0001"),
        NetDriverKey("0001", "\"DeviceName\"=\"one\"\n"),
        NetDriverKey("0002", "\"DeviceName\"=\"two\"\n"),
        NetDriverKey("0003", "\"DeviceName\"=\"three\"\n"),
    });
    EXPECT_EQ(ReportOf(machine), "\n*   Brenlok Hardware Abstraction Driver A\n" + NameLines("one") +
                                     "\n*   Brenlok Hardware Abstraction Driver B\n" + NameLines("two") +
                                     "\n*   Brenlok Hardware Abstraction Driver C\n" + NameLines("three"));
}

TEST_F(Report, LocationAndUiNumberLinesAppearOnlyWhenRead)
{
    const std::string machine = RegFile({
        NetAdapter("ROOT\\NET\\0000", "\"DeviceDesc\"=\"" + Prefix +
                                          " 1\"\n\"LocationInformation\"=\"slot 1\"\n" +
                                          "\"UINumber\"=dword:00000007\n" + Driver("0000")),
        NetAdapter("ROOT\\NET\\0001",
                   "\"DeviceDesc\"=\"" + Prefix + " 2\"\n\"UINumber\"=dword:00000000\n" + Driver("0000")),
        NetAdapter("ROOT\\NET\\0002",
                   "\"DeviceDesc\"=\"" + Prefix + " 3\"\n\"LocationInformation\"=\"\"\n" + Driver("0000")),
        NetAdapter("ROOT\\NET\\0003", "\"DeviceDesc\"=\"" + Prefix + " 4\"\n" + Driver("0000")),
        NetDriverKey("0000", "\"DeviceName\"=\"n\"\n"),
    });
    EXPECT_EQ(ReportOf(machine),
              "\n*   Brenlok Hardware Abstraction Driver 1\nSPDRP_LOCATION_INFORMATION: slot "
              "1\nSPDRP_UI_NUMBER: 7\n" +
                  NameLines("n") + "\n*   Brenlok Hardware Abstraction Driver 2\nSPDRP_UI_NUMBER: 0\n" +
                  NameLines("n") +
                  "\n*   Brenlok Hardware Abstraction Driver 3\nSPDRP_LOCATION_INFORMATION: \n" +
                  NameLines("n") + "\n*   Brenlok Hardware Abstraction Driver 4\n" + NameLines("n"));
}

TEST_F(Report, AnAdapterWithoutDriverKeyEndsWithTheErrorLineAndTheScanGoesOn)
{
    const std::string machine = RegFile({
        NetAdapter("ROOT\\NET\\0000", "\"DeviceDesc\"=\"" + Prefix + "\"\n"),
        NetAdapter("ROOT\\NET\\0001", "\"DeviceDesc\"=\"" + Prefix + " last\"\n" + Driver("0000")),
        NetDriverKey("0000", "\"DeviceName\"=\"found\"\n"),
    });
    EXPECT_EQ(ReportOf(machine),
              "\n*   Brenlok Hardware Abstraction Driver\nError: Failed to open Registry key!!\n"
              "\n*   Brenlok Hardware Abstraction Driver last\n" +
                  NameLines("found"));
}

TEST_F(Report, AFailedNameReadNeverShowsThePreviousAdaptersName)
{
    const std::string machine = RegFile({
        NetAdapter("ROOT\\NET\\0000", "\"DeviceDesc\"=\"" + Prefix + " 1\"\n" + Driver("0000")),
        NetAdapter("ROOT\\NET\\0001", "\"DeviceDesc\"=\"" + Prefix + " 2\"\n" + Driver("0001")),
        NetAdapter("ROOT\\NET\\0002", "\"DeviceDesc\"=\"" + Prefix + " 3\"\n" + Driver("0002")),
        NetDriverKey("0000", "\"DeviceName\"=\"a rather long interface name\"\n"),
        NetDriverKey("0001", ""),
        NetDriverKey("0002", "\"DeviceName\"=\"" + std::string(150, 'q') + "\"\n"),
    });
    EXPECT_EQ(ReportOf(machine), "\n*   Brenlok Hardware Abstraction Driver 1\n" +
                                     NameLines("a rather long interface name") +
                                     "\n*   Brenlok Hardware Abstraction Driver 2\n" + NameLines("\n") +
                                     "\n*   Brenlok Hardware Abstraction Driver 3\n" + NameLines("\n"));
}

TEST_F(Report, PropertyBuffersAreNeverReadPastTheirCapacity)
{
    const std::string tail(PROPERTY_BUFFER_SIZE - Prefix.size() - 1, 'd');
    // 2095 characters and the terminator fill the buffer exactly.
    EXPECT_EQ(
        ReportOf(RegFile({NetAdapter("ROOT\\NET\\0000", "\"DeviceDesc\"=\"" + Prefix + tail + "\"\n")})),
        "\n* " + Prefix + tail + "\nError: Failed to open Registry key!!\n");
    // One character more does not fit: the device is passed over.
    EXPECT_EQ(
        ReportOf(RegFile({NetAdapter("ROOT\\NET\\0000", "\"DeviceDesc\"=\"" + Prefix + tail + "d\"\n")})),
        "");

    // 2096 bytes stored without a terminator are read, and printed without a byte more.
    const std::string location(PROPERTY_BUFFER_SIZE, 'L');
    EXPECT_EQ(ReportOf(RegFile({NetAdapter(
                  "ROOT\\NET\\0000",
                  "\"DeviceDesc\"=hex(1):" + HexBytes(Utf16Bytes(Prefix + tail + "d")) +
                      "\n\"LocationInformation\"=hex(1):" + HexBytes(Utf16Bytes(location)) + "\n")})),
              "\n* " + Prefix + tail + "d\nSPDRP_LOCATION_INFORMATION: " + location +
                  "\nError: Failed to open Registry key!!\n");
}

TEST_F(Report, UnterminatedPropertiesNeverRunOnIntoEarlierBytes)
{
    // Binary values carry no terminator: what follows them in the buffer must not be shown, be it
    // a longer description read before or a location buffer never written.
    const std::string machine = RegFile({
        NetAdapter("ROOT\\NET\\0000", "\"DeviceDesc\"=\"" + Prefix + " with a long tail\"\n"),
        NetAdapter("ROOT\\NET\\0001", "\"DeviceDesc\"=hex:" + HexBytes(Prefix + " B") +
                                          "\n\"LocationInformation\"=hex:4c,6f,63\n"),
    });
    EXPECT_EQ(ReportOf(machine), "\n*   Brenlok Hardware Abstraction Driver with a long tail\n"
                                 "Error: Failed to open Registry key!!\n"
                                 "\n*   Brenlok Hardware Abstraction Driver B\n"
                                 "SPDRP_LOCATION_INFORMATION: Loc\n"
                                 "Error: Failed to open Registry key!!\n");
}

TEST_F(Report, TextComesOutInTheAnsiCodePage)
{
    const std::string machine = Utf16RegFile(
        "Windows Registry Editor Version 5.00\n" +
        NetAdapter("ROOT\\NET\\0000", "\"DeviceDesc\"=\"" + Prefix + " – Café Ω 中\"\n" +
                                          "\"LocationInformation\"=\"Émetteur ÿ\"\n" + Driver("0000")) +
        NetDriverKey("0000", "\"DeviceName\"=\"Señal€\"\n"));
    EXPECT_EQ(ReportOf(machine), "\n*   Brenlok Hardware Abstraction Driver \x96 Caf\xE9 O ?\n"
                                 "SPDRP_LOCATION_INFORMATION: \xC9metteur \xFF\n" +
                                     NameLines("Se\xF1"
                                               "al\x80"));
}

TEST_F(Report, PrintsNothingWhenTheDeviceSetCannotBeObtained)
{
    sim::LoadMachine(RegFile({NetAdapter("ROOT\\NET\\0000", "\"DeviceDesc\"=\"" + Prefix + "\"\n")}));
    sim::FailDeviceSetRequests(ERROR_NOT_ENOUGH_MEMORY);
    const sim::HandleCounts before = sim::Handles();
    const std::string report = CaptureStdout(PrintAdapterReport);
    const sim::HandleCounts after = sim::Handles();

    EXPECT_EQ(report, "");
    // The invalid handle went nowhere: not to the scan, not to SetupDiDestroyDeviceInfoList.
    EXPECT_EQ(after.invalidHandleUses, before.invalidHandleUses);
}

} // namespace
