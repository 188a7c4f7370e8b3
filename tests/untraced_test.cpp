// The tool built with the trace switched off: the same report without the helpers' lines.
#include "adapter_report/adapter_report.h"
#include "registry_values/registry_values.h"
#include "simulated_windows/simulated_platform.h"
#include "support/platform_test.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace test_support;
namespace sim = simulated_windows;

namespace {

class Untraced : public PlatformTest {};

TEST_F(Untraced, ReportLeavesOutOnlyTheTraceLines)
{
    sim::LoadMachine(sim::SampleMachineRegFile());
    EXPECT_EQ(CaptureStdout(PrintAdapterReport), SampleMachineReport(false));
}

TEST_F(Untraced, HelpersStillReadAndStore)
{
    sim::LoadMachine("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Check]\n\"Text\"=\"abc\"\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Check", 0, KEY_READ | KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    char buffer[16] = "\n";
    DWORD size = sizeof buffer;
    EXPECT_EQ(CaptureStdout([&] {
                  GetRegistryStringValue(key, "Text", buffer, &size);
                  SetRegistryStringValue(key, "Number", DWORD{42});
              }),
              "");
    EXPECT_STREQ(buffer, "abc");
    const auto stored = sim::ReadStoredValue(HKEY_CURRENT_USER, "Software\\Check", "Number");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(std::string(stored->data.begin(), stored->data.end()), Utf16Bytes(std::string("42\0", 3)));
    RegCloseKey(key);
}

} // namespace
