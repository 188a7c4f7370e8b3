// present_devices, collect.cmd's helper: the list of present devices as the replay reads it, no
// list at all where an ID cannot be written faithfully, and the token's answer to /elevated.
#include "present_devices/present_devices.h"
#include "simulated_windows/simulated_platform.h"
#include "support/platform_test.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace test_support;
namespace sim = simulated_windows;

namespace {

struct Listing {
    const char* what;
    std::string machine;
    int status;
    std::string list;    // standard output, whole
    std::string message; // standard error, whole
};

class PresentDevices : public PlatformTestWithParam<Listing> {};

TEST_P(PresentDevices, WritesTheWholeListOrNone)
{
    const Listing& listing = GetParam();
    sim::LoadMachine(listing.machine);
    const sim::HandleCounts before = sim::Handles();
    int status = -1;
    testing::internal::CaptureStderr();
    const std::string list = CaptureStdout([&] { status = ListPresentDevices(); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), listing.message);
    EXPECT_EQ(status, listing.status);
    EXPECT_EQ(list, listing.list);
    EXPECT_EQ(sim::Handles().openDeviceSets, before.openDeviceSets);
}

const std::string LongName(190, 'L');

INSTANTIATE_TEST_SUITE_P(
    Machines, PresentDevices,
    ::testing::Values(
        // Windows never makes such IDs, but a registry may hold them: a quote must not start a
        // quoted field, and a blank is no part of an ID the replay takes.
        Listing{"AnIdWithAQuoteIsQuoted",
                RegFile({NetAdapter("ROOT\\PLAIN\\0000", ""), NetAdapter("ROOT\\Q\"X\\0000", "")}), EXIT_DONE,
                "InstanceId\nROOT\\PLAIN\\0000\n\"ROOT\\Q\"\"X\\0000\"\n", ""},
        Listing{
            "AnIdWithABlankIsRefused",
            RegFile({NetAdapter("ROOT\\PLAIN\\0000", ""), NetAdapter("ROOT\\A B\\0000", "")}), EXIT_FAILED,
            "",
            "present_devices: device number 0 has an instance ID with characters Windows does not allow\n"},
        Listing{
            "AnIdWithACommaIsRefused", RegFile({NetAdapter("ROOT\\A,B\\0000", "")}), EXIT_FAILED, "",
            "present_devices: device number 0 has an instance ID with characters Windows does not allow\n"},
        Listing{
            "AnIdOutsideAsciiIsRefused",
            RegFile({NetAdapter("ROOT\\PLAIN\\0000", ""), NetAdapter("ROOT\\\xC9T\\0000", "")}), EXIT_FAILED,
            "",
            "present_devices: device number 1 has an instance ID with characters Windows does not allow\n"},
        Listing{"AnIdLongerThanWindowsAllowsIsRefused",
                RegFile({NetAdapter("ROOT\\" + LongName + "\\0000", "")}), EXIT_FAILED, "",
                "present_devices: device number 0 has an instance ID of 200 characters, more than Windows "
                "allows\n"}),
    [](const ::testing::TestParamInfo<Listing>& info) { return std::string(info.param.what); });

class PresentDevicesFailure : public PlatformTest {};

TEST_F(PresentDevicesFailure, NoDeviceSetGivesNoList)
{
    sim::LoadMachine(RegFile({NetAdapter("ROOT\\PLAIN\\0000", "")}));
    sim::FailDeviceSetRequests(ERROR_NOT_ENOUGH_MEMORY);
    int status = -1;
    testing::internal::CaptureStderr();
    const std::string list = CaptureStdout([&] { status = ListPresentDevices(); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "present_devices: SetupDiGetClassDevsA failed (error 0x00000008)\n");
    EXPECT_EQ(status, EXIT_FAILED);
    EXPECT_EQ(list, "");
}

class PresentDevicesElevation : public PlatformTest {};

TEST_F(PresentDevicesElevation, IsTheUsers)
{
    const sim::HandleCounts before = sim::Handles();
    sim::RunAs(sim::User::Standard);
    EXPECT_EQ(CheckElevation(), EXIT_NOT_ELEVATED);
    sim::RunAs(sim::User::Administrator);
    EXPECT_EQ(CheckElevation(), EXIT_ELEVATED);
    EXPECT_EQ(sim::Handles().invalidHandleUses, before.invalidHandleUses);
}

} // namespace
