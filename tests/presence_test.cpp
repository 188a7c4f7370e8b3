// Which adapters were present: the registry keeps the keys of adapters long removed ("phantoms",
// common after a card swap), and only the machine's own list tells them apart. The list comes as
// Windows writes it, from PowerShell or from wmic.
#include "adapter_report/adapter_report.h"
#include "simulated_windows/simulated_platform.h"
#include "support/colliding_ids.h"
#include "support/platform_test.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace test_support;
namespace sim = simulated_windows;

namespace {

const std::string PresentId = "PCI\\VEN_F0E1&DEV_0A20&SUBSYS_00000000&REV_01\\4&2A0B1F3&0&00E3";
const std::string PhantomId = "PCI\\VEN_F0E1&DEV_0A20&SUBSYS_00000000&REV_01\\4&2A0B1F3&0&00E8";

std::string Adapter(const std::string& id, const std::string& name)
{
    return NetAdapter(id, "\"DeviceDesc\"=\"  Brenlok Hardware Abstraction Driver " + name +
                              "\"\n\"Driver\"=\"" + std::string(NetClass) + "\\\\" + name + "\"\n") +
           NetDriverKey(name, "\"DeviceName\"=\"" + name + "\"\n");
}

std::string Block(const std::string& name)
{
    return "\n*   Brenlok Hardware Abstraction Driver " + name +
           "\nGetRegistryStringValue(): DeviceName: " + name + "\nTaldric Name: " + name + "\n";
}

std::string Utf8WithMark(const std::string& text)
{
    return "\xEF\xBB\xBF" + text;
}

// UTF-16 with a mark (little- or big-endian) or without one, lines ended as given.
std::string Utf16(const std::string& ascii, const char* mark = "\xFF\xFE", bool bigEndian = false)
{
    std::string bytes = mark;
    for (const char c : ascii) {
        bytes += bigEndian ? '\0' : c;
        bytes += bigEndian ? c : '\0';
    }
    return bytes;
}

class Presence : public PlatformTest {
  protected:
    void SetUp() override
    {
        PlatformTest::SetUp();
        sim::LoadMachine(RegFile({Adapter(PresentId, "0001"), Adapter(PhantomId, "0002")}));
    }
};

TEST_F(Presence, OnlyListedAdaptersArePresent)
{
    // The device IDs as Windows lists them, in another letter case than the keys.
    std::string lower = PresentId;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::pair<const char*, std::string> lists[] = {
        {"PowerShell 7", "\"InstanceId\"\r\n\"" + PresentId + "\"\r\n\"ROOT\\SYSTEM\\0000\"\r\n"},
        {"Windows PowerShell 5, UTF-8",
         Utf8WithMark("#TYPE Microsoft.Management.Infrastructure.CimInstance#ROOT/"
                      "cimv2/Win32_PnPEntity\r\n\"Class\",\"InstanceId\",\"Name\"\r\n"
                      "\"Net, wired\",\"" +
                      lower + "\",\"Adapter, \"\"first\"\"\"\r\n")},
        {"wmic, UTF-16", Utf16("\r\r\nNode,PNPDeviceID\r\r\nMACHINE," + PresentId + "\r\r\n")},
        {"UTF-16 big-endian", Utf16("InstanceId\n" + PresentId + "\n", "\xFE\xFF", true)},
        {"UTF-16 without a mark", Utf16("InstanceId\n" + PresentId + "\n", "")},
        {"a field holding a line break",
         "\"Name\",\"InstanceId\"\r\n\"Adapter,\r\nsecond line\",\"" + PresentId + "\"\r\n"},
        {"blank lines before #TYPE, blanks around the ID",
         "\r\n \r\n#TYPE Microsoft.Management.Infrastructure.CimInstance\r\n\"InstanceId\"\r\n\" " +
             PresentId + "\t\"\r\n"},
    };
    for (const auto& [shape, list] : lists) {
        SCOPED_TRACE(shape);
        sim::LoadPresentDevices(list, "present.csv");
        EXPECT_EQ(CaptureStdout(PrintAdapterReport), Block("0001"));
    }
    sim::CountEveryDeviceAsPresent();
    EXPECT_EQ(CaptureStdout(PrintAdapterReport), Block("0001") + Block("0002"));
}

// Without DIGCF_PRESENT Windows lists every device of the class, phantoms too.
TEST_F(Presence, WithoutThePresentFlagEveryDeviceIsListed)
{
    sim::LoadPresentDevices("InstanceId\n" + PresentId + "\n", "present.csv");
    for (const DWORD flags : {DWORD{DIGCF_PRESENT}, DWORD{0}}) {
        HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, flags);
        SP_DEVINFO_DATA record{};
        record.cbSize = sizeof record;
        DWORD count = 0;
        while (SetupDiEnumDeviceInfo(set, count, &record)) {
            ++count;
        }
        EXPECT_EQ(count, flags == 0 ? 2u : 1u);
        SetupDiDestroyDeviceInfoList(set);
    }
}

TEST_F(Presence, AListWithoutItsColumnIsRefused)
{
    const std::pair<std::string, std::string> lists[] = {
        {"\r\n\"Class\",\"Name\"\r\n\"Net\",\"Adapter\"\r\n",
         "present.csv:2: not a list of present devices: it has neither an InstanceId nor a PNPDeviceID "
         "column"},
        {"", "present.csv: not a list of present devices: it is empty"},
        // Device instance IDs are fewer than 200 (MAX_DEVICE_ID_LEN) characters from '!' to DEL, no comma.
        {"InstanceId\nROOT\\NET\\0000\n" + std::string(200, 'I') + "\n",
         "present.csv:3: not a device instance ID: longer than 199 characters"},
        {"InstanceId\nROOT\\NET 1\\0000\n",
         "present.csv:2: not a device instance ID: it holds a blank, a comma or a character beyond ASCII"},
        {"Name,InstanceId\nA,\"ROOT\\NET\\0000\nB,C\n",
         "present.csv:2: a quoted field lacks its closing quote"},
    };
    for (const auto& [list, message] : lists) {
        SCOPED_TRACE(message);
        try {
            sim::LoadPresentDevices(list, "present.csv");
            ADD_FAILURE() << "accepted";
        } catch (const sim::RefusedInput& error) {
            EXPECT_EQ(error.what(), message);
        }
    }
}

// At scale. Suites named *Scale are labelled slow and run in the native pass only.
class PresenceScale : public PlatformTest {};

// IDs made to collide in an unkeyed hash load as fast as any others: the list's hash is keyed per
// process, so a customer's file cannot steer it into a scan a lookup.
TEST_F(PresenceScale, IdsMadeToCollideLoadInTimeInProportionToTheList)
{
    const std::size_t count = 1 << 15;
    std::string colliding = "InstanceId\n", plain = colliding;
    for (std::size_t i = 0; i < count; ++i) {
        colliding += CollidingInstanceId(i) + "\n";
        plain += "ROOT\\X\\" + std::to_string(i * 7919) + std::string(96 - 8, 'P') + "\n";
    }
    const auto seconds = [](const std::string& list) {
        const auto start = std::chrono::steady_clock::now();
        sim::LoadPresentDevices(list, "present.csv");
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    const double plainTime = seconds(plain);
    EXPECT_LT(seconds(colliding), 4 * plainTime + 0.2)
        << "a list of the same size took " << plainTime << " s";
}

} // namespace
