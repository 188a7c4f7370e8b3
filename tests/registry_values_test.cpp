// The registry string helpers against real keys of the simulated platform.
#include "registry_values/registry_values.h"
#include "simulated_windows/simulated_platform.h"
#include "support/platform_test.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace test_support;
namespace sim = simulated_windows;

namespace {

class RegistryValuesTest : public PlatformTest {
  protected:
    void SetUp() override
    {
        PlatformTest::SetUp();
        sim::LoadMachine("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Check]\n"
                         "\"Text\"=\"abc\"\n\"Empty\"=\"\"\n\"Long\"=\"abcdefgh\"\n");
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Check", 0, KEY_READ | KEY_SET_VALUE, &key_),
                  ERROR_SUCCESS);
    }
    void TearDown() override { EXPECT_EQ(RegCloseKey(key_), ERROR_SUCCESS); }

    // Reads `name` into a buffer of `capacity` bytes that starts as the line-feed placeholder.
    std::string Read(const char* name, DWORD capacity, DWORD& size, std::string& buffer)
    {
        buffer.assign(capacity, '#');
        buffer[0] = '\n';
        if (capacity > 1) {
            buffer[1] = '\0';
        }
        size = capacity;
        return CaptureStdout([&] { GetRegistryStringValue(key_, name, buffer.data(), &size); });
    }

    HKEY key_ = nullptr;
};

TEST_F(RegistryValuesTest, ReaderReturnsTheTextItsSizeAndTracesIt)
{
    DWORD size = 0;
    std::string buffer;
    EXPECT_EQ(Read("Text", 100, size, buffer), "GetRegistryStringValue(): Text: abc\n");
    EXPECT_STREQ(buffer.c_str(), "abc");
    EXPECT_EQ(size, 4u);

    EXPECT_EQ(Read("EMPTY", 100, size, buffer), "GetRegistryStringValue(): EMPTY: \n");
    EXPECT_STREQ(buffer.c_str(), "");
    EXPECT_EQ(size, 1u);
}

TEST_F(RegistryValuesTest, ReaderKeepsThePlaceholderWhenTheValueCannotBeReadWhole)
{
    DWORD size = 0;
    std::string buffer;
    // Too long: the size tells what the value needs.
    EXPECT_EQ(Read("Long", 8, size, buffer), "GetRegistryStringValue(): Long: \n\n");
    EXPECT_STREQ(buffer.c_str(), "\n");
    EXPECT_EQ(size, 9u);

    EXPECT_EQ(Read("Missing", 100, size, buffer), "GetRegistryStringValue(): Missing: \n\n");
    EXPECT_STREQ(buffer.c_str(), "\n");

    // A buffer too small for the placeholder and its terminator is left empty.
    EXPECT_EQ(Read("Long", 1, size, buffer), "GetRegistryStringValue(): Long: \n");
    EXPECT_EQ(buffer[0], '\0');
}

TEST_F(RegistryValuesTest, WritersStoreRegSzWithTheTerminatorCounted)
{
    const struct {
        const char* name;
        std::function<void()> store;
        std::string text;
    } cases[] = {
        {"Name", [&] { SetRegistryStringValue(key_, "Name", "eth0"); }, "eth0"},
        {"EmptyText", [&] { SetRegistryStringValue(key_, "EmptyText", ""); }, ""},
        {"Zero", [&] { SetRegistryStringValue(key_, "Zero", DWORD{0}); }, "0"},
        {"Largest", [&] { SetRegistryStringValue(key_, "Largest", DWORD{4294967295u}); }, "4294967295"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CaptureStdout(c.store),
                  "SetRegistryStringValue(): " + std::string(c.name) + ": " + c.text + "\n");

        DWORD type = REG_NONE;
        char data[32] = {};
        DWORD size = sizeof data;
        ASSERT_EQ(RegQueryValueExA(key_, c.name, nullptr, &type, reinterpret_cast<LPBYTE>(data), &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(size, c.text.size() + 1); // 2 bytes for 0, 11 for 4294967295, 1 for the empty text
        EXPECT_EQ(std::string(data, size), c.text + std::string(1, '\0'));

        // Stored as Windows keeps it: UTF-16LE with the terminator.
        const auto stored = sim::ReadStoredValue(HKEY_CURRENT_USER, "Software\\Check", c.name);
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(std::string(stored->data.begin(), stored->data.end()),
                  Utf16Bytes(c.text + std::string(1, '\0')));
    }
}

TEST_F(RegistryValuesTest, WritersTraceEvenWhenTheStoreFails)
{
    HKEY readOnly = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Check", 0, KEY_READ, &readOnly), ERROR_SUCCESS);
    EXPECT_EQ(CaptureStdout([&] { SetRegistryStringValue(readOnly, "Denied", "x"); }),
              "SetRegistryStringValue(): Denied: x\n");
    EXPECT_FALSE(sim::ReadStoredValue(HKEY_CURRENT_USER, "Software\\Check", "Denied").has_value());
    EXPECT_EQ(RegCloseKey(readOnly), ERROR_SUCCESS);
}

} // namespace
