// Registry files as regedit and `reg export` write them, and the ones they would not take.
#include "machine.h"
#include "simulated_windows/simulated_platform.h"
#include "support/platform_test.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace test_support;
namespace sim = simulated_windows;

using namespace std::string_literals;

namespace {

class RegFile : public PlatformTest {};

// The stored type and bytes of a value under HKEY_CURRENT_USER\Software\T, "absent" when missing.
std::string Stored(const char* name, const char* key = "Software\\T")
{
    const auto value = sim::ReadStoredValue(HKEY_CURRENT_USER, key, name);
    if (!value) {
        return "absent";
    }
    return std::to_string(value->type) + ":" + HexBytes(std::string(value->data.begin(), value->data.end()));
}

bool KeyExists(const char* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

TEST_F(RegFile, ReadsEveryKindOfValue)
{
    sim::LoadMachine("Windows Registry Editor Version 5.00\r\n"
                     "\r\n"
                     "; a comment, then a key\r\n"
                     "[HKEY_CURRENT_USER\\Software\\T]\r\n"
                     "@=\"default\"\r\n"
                     "\"Quote\\\"d\"=\"back\\\\slash \\\"quoted\\\" ; not a comment\"\r\n"
                     "\"Dword\" = dword:0000ABCD ; trailing comment\r\n"
                     "\"Short\"=dword:7\r\n"
                     "\"Binary\"=hex:00,ff,7\r\n"
                     "\"None\"=hex(0):\r\n"
                     "\"Qword\"=hex(b):01,02,03,04,05,06,07,08\r\n"
                     "\"Long\"=hex(7):61,00,00,00,\\\r\n"
                     "  62,00,\\ ; comment after the continuation\r\n"
                     "\r\n"
                     "; a comment between continued lines\r\n"
                     "  00,00,00,00\r\n"
                     "\"Odd\"=hex(abcd):1\r\n"
                     "   \"Indented\"=\"yes\"   \r\n"
                     "this line is neither a key nor a value and is passed over\r\n");
    EXPECT_EQ(Stored(""), "1:" + HexBytes(Utf16Bytes(std::string("default\0", 8))));
    EXPECT_EQ(Stored("Quote\"d"),
              "1:" + HexBytes(Utf16Bytes(std::string("back\\slash \"quoted\" ; not a comment\0", 36))));
    EXPECT_EQ(Stored("Dword"), "4:cd,ab,00,00");
    EXPECT_EQ(Stored("Short"), "4:07,00,00,00");
    EXPECT_EQ(Stored("Binary"), "3:00,ff,07");
    EXPECT_EQ(Stored("None"), "0:");
    EXPECT_EQ(Stored("Qword"), "11:01,02,03,04,05,06,07,08");
    EXPECT_EQ(Stored("Long"), "7:61,00,00,00,62,00,00,00,00,00");
    EXPECT_EQ(Stored("Odd"), "43981:01");
    EXPECT_EQ(Stored("Indented"), "1:" + HexBytes(Utf16Bytes(std::string("yes\0", 4))));
}

TEST_F(RegFile, ReadsUtf16AndAnsiFilesAndAllLineEnds)
{
    // Exported by `reg export`: UTF-16LE with a byte-order mark and CRLF.
    sim::LoadMachine(Utf16RegFile("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\T]\n"
                                  "\"Text\"=\"Ωμέγα 中 😀\"\n"));
    EXPECT_EQ(Stored("Text"), "1:a9,03,bc,03,ad,03,b3,03,b1,03,20,00,2d,4e,20,00,3d,d8,00,de,00,00");

    // REGEDIT4 is 8-bit text in the ANSI code page, here with bare CR line ends; its hex(2) and
    // hex(7) strings are ANSI too, and get the terminator they lack.
    sim::LoadMachine(
        "  REGEDIT4\r\r[HKEY_CURRENT_USER\\Software\\T]\r\"Text\"=\"Caf\xE9\"\r\"Path\"=hex(2):25,41\r");
    EXPECT_EQ(Stored("Text"), "1:43,00,61,00,66,00,e9,00,00,00");
    EXPECT_EQ(Stored("Path"), "2:25,00,41,00,00,00");

    // Version 5 keeps hex(2) bytes as they are written.
    sim::LoadMachine(
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\\T]\n\"Path\"=hex(2):25,41\n");
    EXPECT_EQ(Stored("Path"), "2:25,41");
}

TEST_F(RegFile, DeletionsAndLaterFilesOverrideEarlierOnes)
{
    sim::LoadMachine({
        {"base.reg",
         "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\T]\n\"Keep\"=\"1\"\n\"Drop\"=\"2\"\n\"Change\"=\"3\"\n"
         "[HKCU\\Software\\Gone\\Deep]\n\"V\"=\"4\"\n"},
        {"patch.reg", "REGEDIT4\n[hkey_current_user\\SOFTWARE\\t]\n\"Drop\"=-\n\"change\"=dword:1\n"
                      "[-HKEY_CURRENT_USER\\Software\\Gone]\n\"Ignored\"=\"after a deleted key\"\n"
                      "[-HKEY_CURRENT_USER\\Software\\NeverWas]\n"},
        // A key made again after its deletion, the same path under another root, a ']' in a name.
        {"again.reg",
         "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Again]\n\"Old\"=\"1\"\n"
         "[-HKEY_CURRENT_USER\\Software\\Again]\n[HKEY_CURRENT_USER\\Software\\Again]\n\"New\"=\"2\"\n"
         "[HKEY_LOCAL_MACHINE\\Software\\T]\n\"Machine\"=\"3\"\n"
         "[HKEY_CURRENT_USER\\Software\\T\\Office [2nd floor]]\n\"Room\"=\"4\"\n"},
    });
    EXPECT_EQ(Stored("Keep"), "1:31,00,00,00");
    EXPECT_EQ(Stored("Drop"), "absent");
    EXPECT_EQ(Stored("Change"), "4:01,00,00,00");
    EXPECT_FALSE(KeyExists("Software\\Gone"));
    EXPECT_FALSE(KeyExists("Software\\Gone\\Deep"));
    EXPECT_TRUE(KeyExists("Software\\T"));
    EXPECT_EQ(Stored("Old", "Software\\Again"), "absent");
    EXPECT_EQ(Stored("New", "Software\\Again"), "1:32,00,00,00");
    EXPECT_EQ(Stored("Machine"), "absent");
    EXPECT_TRUE(sim::ReadStoredValue(HKEY_LOCAL_MACHINE, "Software\\T", "Machine").has_value());
    EXPECT_EQ(Stored("Room", "Software\\T\\Office [2nd floor]"), "1:34,00,00,00");
}

// Files that Windows' regedit imports whole, with the value it stores from each.
TEST_F(RegFile, TakesWhatRegeditTakes)
{
    const std::string v4 = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\T]\n";
    const std::string v5 = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\T]\n";
    const struct {
        std::string file;
        const char* value;
        const char* stored;
    } cases[] = {
        // The file ends right after a continuation: the bytes read so far are the value.
        {v4 + "\"Cut\"=hex:11,22,33,44,55,\\", "Cut", "3:11,22,33,44,55"},
        {v4 + "\"Cut\"=hex:11,22,\\\n\n; nothing follows\n", "Cut", "3:11,22"},
        {Utf16RegFile(v5 + "\"Cut\"=hex(2):41,00,\\"), "Cut", "2:41,00"},
        // Blanks after "dword:" and around the default value's name.
        {v4 + "\"Spaced\"=dword:  00000008\n", "Spaced", "4:08,00,00,00"},
        {v4 + "\t@\t=\tdword:\t00000008\t\n", "", "4:08,00,00,00"},
        // Backslashes at the end of a key name name nothing.
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\T\\\\]\n\"Two\"=\"2\"\n", "Two", "1:32,00,00,00"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\T\\\\\\\\]\n\"Four\"=\"4\"\n", "Four", "1:34,00,00,00"},
        // Empty expandable and multi-strings stay empty in a REGEDIT4 file.
        {v4 + "\"Expand\"=hex(2):\n", "Expand", "2:"},
        {v4 + "\"Multi\"=hex(7):\n", "Multi", "7:"},
        // A UTF-16 export's string data is kept as exported, terminator or not: it shows the
        // machine it came from (regedit would add one).
        {Utf16RegFile(v5 + "\"Bare\"=hex(1):61,00,62,00\n"), "Bare", "1:61,00,62,00"},
    };
    for (const auto& [file, value, stored] : cases) {
        SCOPED_TRACE(file);
        ASSERT_NO_THROW(sim::LoadMachine({{"r.reg", file}}));
        EXPECT_EQ(Stored(value), stored);
    }
}

// "\k\k..." with `depth` names.
std::string Nested(std::size_t depth)
{
    std::string path;
    for (std::size_t i = 0; i < depth; ++i) {
        path += "\\k";
    }
    return path;
}

// Windows takes keys up to 512 levels below their root; the loader takes them, and deletes them,
// without recursing down the tree.
TEST_F(RegFile, KeysAsDeepAsWindowsAllowsLoadAndDelete)
{
    sim::LoadMachine("REGEDIT4\n[HKEY_CURRENT_USER" + Nested(512) + "]\n\"Deepest\"=dword:1\n");
    EXPECT_EQ(Stored("Deepest", Nested(512).substr(1).c_str()), "4:01,00,00,00");

    sim::LoadMachine("REGEDIT4\n[HKEY_CURRENT_USER" + Nested(512) + "]\n[-HKEY_CURRENT_USER\\k]\n");
    EXPECT_FALSE(KeyExists("k"));
}

// A tree built in code has no depth limit; releasing it must not take the stack with it.
TEST_F(RegFile, AVeryDeepTreeIsReleasedWithoutRecursing)
{
    sim::Registry deep;
    sim::KeyPath path;
    path.names.assign(300000, u"k");
    sim::CreateKey(deep.Root(sim::RootKey::CurrentUser), path);
    sim::ReplaceRegistry(std::move(deep));
    sim::LoadMachine("REGEDIT4\n"); // the deep registry goes
    EXPECT_FALSE(KeyExists("k"));
}

TEST_F(RegFile, MalformedFilesAreRefusedWholeWithFileAndLine)
{
    const std::string v5 = "Windows Registry Editor Version 5.00\n";
    const std::string key = "[HKEY_CURRENT_USER\\Software\\T]\n";
    const std::pair<std::string, std::string> cases[] = {
        {"", "m.reg:1: not a registry file: the file is empty"},
        {"\xFF\xFE", "m.reg:1: not a registry file: the file is empty"},
        {"REGEDIT5\n",
         "m.reg:1: not a registry file: the first line must be \"Windows Registry Editor Version "
         "5.00\" or \"REGEDIT4\""},
        {"W\0i\0n\0"s,
         "m.reg:1: not a registry file: the first line must be \"Windows Registry Editor Version "
         "5.00\" or \"REGEDIT4\""},
        {v5 + "\"v\"=\"1\"\n", "m.reg:2: value outside any key"},
        {"REGEDIT4\r\n\r\n\"v\"=\"1\"\r\n", "m.reg:3: value outside any key"}, // CRLF ends one line
        {v5 + "[HKEY_CURRENT_USER\\Software\n", "m.reg:2: key name lacks its closing \"]\""},
        {v5 + "[HKEY_NOWHERE\\Software]\n", "m.reg:2: unknown root key \"HKEY_NOWHERE\""},
        {v5 + "[HKEY_CURRENT_USER\\a\\\\b]\n", "m.reg:2: empty key name in \"HKEY_CURRENT_USER\\a\\\\b\""},
        {v5 + "[-HKEY_CURRENT_USER]\n", "m.reg:2: a root key cannot be deleted"},
        {v5 + key + "\"v\"=\"open\n", "m.reg:3: string lacks its closing quote"},
        {v5 + key + "\"v\"=\"a\" b\n", "m.reg:3: unexpected text after the string"},
        {v5 + key + "\"v\"=\"a\\0b\"\n", "m.reg:3: \"\\0\" cannot stand in a string"},
        {v5 + key + "\"v\" \"a\"\n", "m.reg:3: expected \"=\" after the value name"},
        {v5 + key + "\"v=\"a\"\n", "m.reg:3: expected \"=\" after the value name"},
        {v5 + key + "\"v\"=hex:0g\n", "m.reg:3: invalid hex byte \"0g\""},
        {v5 + key + "\"v\"=hex:123\n", "m.reg:3: invalid hex byte \"123\""},
        {v5 + key + "\"v\"=hex:01 02\n", "m.reg:3: expected \",\" between hex bytes"},
        {v5 + key + "\"v\"=dword:123456789\n", "m.reg:3: dword value must be 1 to 8 hex digits"},
        {v5 + key + "\"v\"=dword:\n", "m.reg:3: dword value must be 1 to 8 hex digits"},
        {v5 + key + "\"v\"=hex(z):00\n", "m.reg:3: value type must be hex(N): with N 1 to 8 hex digits"},
        {v5 + key + "\"v\"=str:\"a\"\n", "m.reg:3: unrecognised value data \"str:\"a\"\""},
        {v5 + key + "\"v\"=\n", "m.reg:3: unrecognised value data \"\""},
        // regedit would drop the value and go on with the next line: the fault is the value's.
        {v5 + key + "\"v\"=hex:01,\\\n\"w\"=\"x\"\n",
         "m.reg:3: the line continuation is not followed by hex data"},
        {v5 + key + "\"v\"=hex:01,\\\n  02,03,\\\n\n; comment\n[HKCU\\Software]\n",
         "m.reg:4: the line continuation is not followed by hex data"},
        {v5 + key + "\"v\"=hex:45,25,5c\\\n  00\n", "m.reg:3: expected \",\" before the line continuation"},
        {"REGEDIT\r\nHKEY_CLASSES_ROOT\\Software = Value0\r\n",
         "m.reg:1: a Windows 3.1 registry file (\"REGEDIT\"), a format no current Windows exports: export "
         "the keys again with regedit or reg export"},
        {v5 + key + "\"v\"=\"a\0b\"\n"s, "m.reg:3: NUL character in the text"},
        {v5 + "[HKEY_CURRENT_USER\\" + std::string(256, 'k') + "]\n",
         "m.reg:2: key name longer than 255 characters: \"kkkkkkkkkkkkkkkkkkkkkkkk...\""},
        // Read no further than the longest key path there can be.
        {v5 + "[HKEY_CURRENT_USER\\" + std::string(200000, 'k') + "]\n",
         "m.reg:2: key path longer than Windows allows (512 names of at most 255 characters)"},
        {v5 + key + "\"" + std::string(16384, 'n') + "\"=\"x\"\n",
         "m.reg:3: value name longer than 16383 characters: \"nnnnnnnnnnnnnnnnnnnnnnnn...\""},
        // Cut short in the middle of a line.
        {v5 + key + "\"v\"=\"trunc", "m.reg:3: string lacks its closing quote"},
        {v5 + "[HKEY_LOCAL_MACH", "m.reg:2: key name lacks its closing \"]\""},
        {v5 + key + "\"v\"=hex:" + std::string(100000, 'f') + "\n",
         "m.reg:3: invalid hex byte \"ffffffffffffffffffffffff...\""},
        {v5 + "[HKEY_CURRENT_USER" + Nested(513) + "]\n", "m.reg:2: key nested more than 512 levels deep"},
        // The UTF-16 text stops halfway through a character.
        {Utf16RegFile(v5 + key + "\"v\"=\"a\"\n").substr(0, 2 + 2 * 60 + 1),
         "m.reg:2: the file ends in the middle of a UTF-16 character"},
    };
    const std::string good = "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\T]\n\"Before\"=\"kept\"\n";
    for (const auto& [file, message] : cases) {
        SCOPED_TRACE(message);
        sim::LoadMachine(good);
        try {
            sim::LoadMachine({{"ok.reg", good + "\"Partial\"=\"no\"\n"}, {"m.reg", file}});
            ADD_FAILURE() << "accepted";
        } catch (const sim::RefusedInput& error) {
            EXPECT_EQ(error.what(), message);
        }
        // Nothing of a refused load is kept, not even the files before the faulty one.
        EXPECT_EQ(Stored("Before"), "1:" + HexBytes(Utf16Bytes(std::string("kept\0", 5))));
        EXPECT_EQ(Stored("Partial"), "absent");
    }
}

// At scale: a line of 20 MB, a key of 100,000 values. Suites named *Scale are labelled slow and run
// in the native pass only (tests/CMakeLists.txt).
class RegFileScale : public PlatformTest {};

TEST_F(RegFileScale, AHugeLineIsReadWhole)
{
    const std::string text(20'000'000, 'h');
    sim::LoadMachine("REGEDIT4\n[HKEY_CURRENT_USER\\Software\\T]\n\"Huge\"=\"" + text + "\"\n");
    const auto stored = sim::ReadStoredValue(HKEY_CURRENT_USER, "Software\\T", "Huge");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->data.size(), 2 * (text.size() + 1));
}

// Values are found by name in constant time: a key of 100,000 values loads in well under a second
// (the bound is generous; a scan per value took minutes).
TEST_F(RegFileScale, AKeyWithAHundredThousandValuesLoadsInLinearTime)
{
    std::string file = "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\T]\n";
    for (int i = 0; i < 100000; ++i) {
        file += "\"v" + std::to_string(i) + "\"=dword:" + std::to_string(i % 10) + "\n";
    }
    file += "\"V99999\"=dword:7\n\"v50000\"=-\n\"v50000\"=dword:3\n";
    const auto start = std::chrono::steady_clock::now();
    sim::LoadMachine(file);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(Stored("v0"), "4:00,00,00,00");
    EXPECT_EQ(Stored("v99999"), "4:07,00,00,00"); // names compare case-insensitively
    EXPECT_EQ(Stored("v50000"), "4:03,00,00,00");
    EXPECT_EQ(Stored("v100000"), "absent");
}

} // namespace
