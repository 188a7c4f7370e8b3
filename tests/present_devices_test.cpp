// present_devices, collect.cmd's helper: the list of present devices as the replay reads it, no
// list at all where an ID cannot be written faithfully, the token's answer to /elevated, and the
// command line /elevate gives cmd.exe.
#include "present_devices/cmd_line.h"
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

// The line has cmd run the batch file with its arguments whole from folders whose names break the
// runas verb of a .cmd file (( ) & ^ @ ! ' blanks, a trailing backslash), % as it is: cmd's
// command-line mode keeps a lone one and an undefined variable's name.
TEST(ElevatedCommandLine, QuotesEveryWordForCmd)
{
    struct Row {
        const wchar_t* words;
        const wchar_t* line; // nullptr: refused
    };
    const Row rows[] = {
        {L"\"C:\\x (1)\\collect.cmd\" /restarted \"C:\\q&a\\o ut\\\"",
         L"/d /v:off /s /c \"\"C:\\x (1)\\collect.cmd\" \"/restarted\" \"C:\\q&a\\o ut\\\"\""},
        {L"  C:\\t^@!'\\collect.cmd\t", L"/d /v:off /s /c \"\"C:\\t^@!'\\collect.cmd\"\""},
        {L"\"C:\\50%\\%NO_SUCH%\\c.cmd\"", L"/d /v:off /s /c \"\"C:\\50%\\%NO_SUCH%\\c.cmd\"\""},
        {L"\"C:\\\u00e9\u03a9\\c.cmd\"x", L"/d /v:off /s /c \"\"C:\\\u00e9\u03a9\\c.cmd\" \"x\"\""},
        {L"\"C:\\open\\c.cmd", nullptr},
        {L"   ", nullptr},
    };
    for (const Row& row : rows) {
        wchar_t line[96];
        const bool built = BuildCmdParameters(row.words, line, sizeof line / sizeof line[0]);
        EXPECT_EQ(built, row.line != nullptr);
        EXPECT_EQ(std::wstring(line), std::wstring(row.line != nullptr ? row.line : L""));
    }
    wchar_t tooShort[24]; // one less than this line and its terminator need
    EXPECT_FALSE(BuildCmdParameters(L"C:\\a", tooShort, sizeof tooShort / sizeof tooShort[0]));
    EXPECT_EQ(tooShort[0], L'\0');
    wchar_t enough[25];
    EXPECT_TRUE(BuildCmdParameters(L"C:\\a", enough, sizeof enough / sizeof enough[0]));
}

} // namespace
