// Hives of machines that stopped during a write, with the transaction logs beside them: the
// replay reads the machine as the logs' valid entries leave it (compared key by key, as
// export_registry writes it, with the machine each write made), says so when it cannot, and
// refuses a log that is not one. Marvin32 against its published vectors; the export against a
// file Windows writes.
#include "hive/hive_builder.h"
#include "hive/log_builder.h"
#include "hive_log.h"
#include "marvin32.h"
#include "reg_file.h"
#include "regf_layout.h"
#include "replay/registry_export.h"
#include "simulated_windows/simulated_platform.h"
#include "support/platform_test.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <tuple>

using namespace test_support;
namespace sim = simulated_windows;

namespace {

TEST(Marvin32, GivesThePublishedResults)
{
    // SymCrypt's self-test and the .NET runtime's Marvin tests: a last part of every length.
    const std::tuple<std::string, std::uint64_t, std::uint64_t> vectors[] = {
        {"", 0x004FB61A001BDBCC, 0x30ED35C100CD3C7D},
        {"\xaf", 0x004FB61A001BDBCC, 0x48E73FC77D75DDC1},
        {"\xe7\x0f", 0x004FB61A001BDBCC, 0xB5F6E1FC485DBFF8},
        {"abc", 0xD53CD9CECD0893B7, 0x22C74339492769BF},
        {"\xab\x42\x7e\xa8\xd1\x0f\xc7", 0x004FB61A001BDBCC, 0xE11847E4F0678C41},
        {"abcdefghijklmnopqrstuvwxyz", 0xDDDDEEEEFFFF000, 0xA128EB7E7260ACA2},
        // The first 32 bytes of the first entry of a SYSTEM.LOG1 Windows wrote, and its Hash-2.
        {std::string("\x48\x76\x4c\x45\x00\x3e\x00\x00\x01\x00\x00\x00\x3b\x08\x00\x00"
                     "\x00\x30\xbd\x00\x03\x00\x00\x00\xc4\x81\x2c\xbe\xa1\xb6\x70\x4b",
                     32),
         sim::regf::entry::HashSeed, 0xDD88C5D7DF48F30A},
    };
    for (const auto& [data, seed, result] : vectors) {
        EXPECT_EQ(sim::Marvin32({reinterpret_cast<const unsigned char*>(data.data()), data.size()}, seed),
                  result)
            << HexBytes(data);
    }
}

// The key at `path` (everything, for an empty one) as export_registry writes it.
std::string Exported(const sim::Registry& registry, std::string_view path = "")
{
    char* text = nullptr;
    std::size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    EXPECT_TRUE(replay::WriteRegExport(*replay::KeysToExport(registry, path), out));
    fclose(out);
    const std::string exported(text, size);
    free(text);
    return exported;
}

// A machine after each of three writes: a value changed, a key added, a value that needs hive bins
// of its own.
std::string MachineAfter(int writes)
{
    return RegFile(
        {NetDriverKey("0000", writes >= 1 ? "\"DeviceName\"=\"one\"\n" : "\"DeviceName\"=\"zero\"\n"),
         writes >= 2 ? NetDriverKey("0001", "\"DeviceName\"=\"two\"\n") : "",
         writes >= 3 ? NetDriverKey("0001", "\"Blob\"=hex:" + HexBytes(std::string(40000, 'x')) + "\n")
                     : ""});
}

class HiveLogs : public PlatformTest {};

TEST_F(HiveLogs, TheReplayReadsWhatTheLogsValidEntriesLeave)
{
    std::vector<std::string> hive, dump; // the SYSTEM hive after each write, and what it loads
    const std::string path = std::filesystem::temp_directory_path() / "adapter_report_hive_log_writes";
    for (int writes = 0; writes <= 3; ++writes) {
        sim::Registry machine;
        sim::ImportRegFile(machine, MachineAfter(writes), "machine.reg");
        hive_builder::WriteSystemHive(path, machine);
        sim::LoadMachineFromFiles({path});
        hive.push_back((std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str());
        dump.push_back(Exported(replay::LoadedRegistry()));
    }
    std::filesystem::remove(path);
    ASSERT_EQ(std::set<std::string>(dump.begin(), dump.end()).size(), 4U);
    const std::string dirty = hive_builder::DirtyHive(hive[0], 7); // written up to sequence number 7
    using hive_builder::NewFormatLog;
    using hive_builder::OldFormatLog;
    const hive_builder::LogEntry first{hive[0], hive[1], 7}, second{hive[1], hive[2], 8},
        third{hive[2], hive[3], 9};
    std::string otherGeneration = hive[0]; // last written at another time
    sim::regf::SetBaseBlockField(otherGeneration, sim::regf::base::LastWritten, 1);
    std::string damagedBaseBlock = dirty;
    damagedBaseBlock[8] ^= 1; // its sequence number, which the log gives back
    const std::string cut = NewFormatLog(dirty, {second, third});
    std::string bigClusters = NewFormatLog(dirty, {first});
    sim::regf::SetBaseBlockField(bigClusters, sim::regf::base::ClusteringFactor, 9); // 1 to 8 in a valid one
    const auto Torn = [](std::string log) {
        log[400] ^= 1; // in the base block, which its checksum no longer matches
        return log;
    };
    // Windows writes a hive's base block back long after its logs: its numbers lag behind theirs.
    const hive_builder::LogEntry ahead1{hive[0], hive[1], 40}, ahead2{hive[1], hive[2], 41},
        ahead3{hive[2], hive[3], 42};

    const std::string Folder = "(a folder)"; // made as a folder of that name, not a file
    struct Case {
        const char* situation;
        std::string hive;
        std::optional<std::string> log1, log2;
        int writes;                 // the machine read is the one after this many writes; < 0: refused
        std::string message;        // the end of the warning, or the refusal after the folder
        std::uint64_t log1Size = 0; // LOG1's apparent size, when it is made sparse up to it
    };
    // An entry claiming bins of 256 MiB and carrying no page, in a sparse log of that size.
    std::string huge = hive[1];
    sim::regf::SetBaseBlockField(huge, sim::regf::base::BinsSize, 1U << 28);
    const Case cases[] = {
        {"entries over both logs", dirty, NewFormatLog(dirty, {first, second}), NewFormatLog(dirty, {third}),
         3, ""},
        {"logs far ahead of the hive", dirty, NewFormatLog(dirty, {ahead1, ahead2}),
         NewFormatLog(dirty, {ahead3}), 3, ""},
        {"the earlier entries in LOG2", dirty, NewFormatLog(dirty, {ahead3}),
         NewFormatLog(dirty, {ahead1, ahead2}), 3, ""},
        {"a gap after the first log", dirty, NewFormatLog(dirty, {ahead1}), NewFormatLog(dirty, {ahead3}), 1,
         ""},
        {"a log whose base block a write cut short, passed over", dirty, NewFormatLog(dirty, {first}),
         Torn(NewFormatLog(dirty, {second, third})), 1, ""},
        {"a bad hash in the middle", dirty, NewFormatLog(dirty, {first, {hive[1], hive[2], 8, true}}),
         NewFormatLog(dirty, {third}), 1, ""},
        {"a log of an older generation", dirty, NewFormatLog(dirty, {first}),
         NewFormatLog(dirty, {{hive[1], hive[2], 5}, {hive[2], hive[3], 6}}), 1, ""},
        {"a damaged tail", dirty, NewFormatLog(dirty, {first}), cut.substr(0, cut.size() - 512), 2, ""},
        {"only entries already applied", dirty, NewFormatLog(dirty, {{hive[0], hive[1], 6}}), "", 0,
         "whose logs hold nothing to apply, read as it stands"},
        {"the old format, after a log of another generation", dirty, OldFormatLog(otherGeneration, hive[1]),
         OldFormatLog(hive[0], hive[3]), 3, ""},
        {"a damaged base block, taken from the log", damagedBaseBlock,
         NewFormatLog(dirty, {first, second, third}), std::nullopt, 3, ""},
        {"no logs", dirty, std::nullopt, std::nullopt, 0,
         "without its logs, read as it stands: its latest changes are in SYSTEM.LOG1 and SYSTEM.LOG2 of the "
         "same folder; copy them beside it"},
        {"an entry claiming bins no page of it covers", dirty, NewFormatLog(dirty, {{hive[1], huge, 7}}), "",
         0, "whose logs hold nothing to apply, read as it stands", std::uint64_t{1} << 28},
        {"a clean hive", hive[0], NewFormatLog(hive[0], {{hive[0], hive[1], 2}}), Folder, 0, ""},
        {"a folder by a log's name", dirty, Folder, std::nullopt, -1,
         "/system.LOG1: cannot be read: not a file"},
        {"a log that is not a log", dirty, "REGEDIT4\n", std::nullopt, -1,
         "/system.LOG1: not a transaction log of a hive: it does not begin with a base block"},
        {"a log of clusters larger than a disk has", dirty, bigClusters, std::nullopt, -1,
         "/system.LOG1: not a transaction log of a hive: its clustering factor is 9, not 1 to 8"},
        {"a dirty hive refused", hive_builder::DirtyHive(hive_builder::EmptyHive(), 7), std::nullopt,
         std::nullopt, -1,
         "/SYSTEM: neither a SYSTEM hive (it has no Select key) nor a hive of Enum or Control\\Class: its "
         "root key "
         "is named \"ROOT\", as reg save names it after the key saved"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.situation);
        std::string made = std::filesystem::temp_directory_path() / "adapter_report_hive_log_XXXXXX";
        ASSERT_NE(mkdtemp(made.data()), nullptr);
        const std::string file = made + "/SYSTEM"; // the logs beside it spelled in other cases
        std::ofstream(file, std::ios::binary) << row.hive;
        std::vector<sim::HiveLog> logs;
        for (const auto& [name, bytes] :
             {std::pair{"/system.LOG1", &row.log1}, std::pair{"/SYSTEM.log2", &row.log2}}) {
            if (*bytes == Folder) {
                std::filesystem::create_directory(made + name);
            } else if (*bytes) {
                std::ofstream(made + name, std::ios::binary) << **bytes;
                logs.push_back({made + name, **bytes});
                if (row.log1Size != 0 && bytes == &row.log1) {
                    std::filesystem::resize_file(made + name, row.log1Size);
                }
            }
        }
        std::string refusal;
        testing::internal::CaptureStderr();
        try {
            sim::LoadMachineFromFiles({file});
        } catch (const sim::RefusedInput& error) {
            refusal = error.what();
        }
        const std::string warning = testing::internal::GetCapturedStderr();
        if (row.writes < 0) {
            EXPECT_EQ(refusal, made + row.message);
            EXPECT_EQ(warning, ""); // the refusal is the one line
        } else {
            EXPECT_EQ(refusal, "");
            const std::string warned = ": warning: a dirty hive (Windows had not finished writing it back) ";
            EXPECT_EQ(warning, row.message.empty() ? "" : file + warned + row.message + "\n");
            EXPECT_EQ(Exported(replay::LoadedRegistry()), dump[row.writes]);
            // What a recovery writes reads as a clean hive: its two sequence numbers agree.
            const sim::RecoveredHive recovered = sim::RecoverHive(row.hive, logs);
            EXPECT_TRUE(recovered.bytes.empty() || !sim::RecoverHive(recovered.bytes, {}).dirty);
        }
        std::filesystem::remove_all(made);
    }
}

// A file that `reg export` writes on Windows (Wine's tests of reg, which hold there) loads and
// exports back byte for byte; so does a string without its terminator, in hex(1).
TEST(RegistryExport, WritesWhatWindowsWrites)
{
    const std::string file =
        Utf16RegFile("Windows Registry Editor Version 5.00\n\n"
                     "[HKEY_CURRENT_USER\\Software\\Wine\\reg_test]\n"
                     "\"DWORD\"=dword:00000100\n"
                     "\"String\"=\"Your text here...\"\n"
                     "\"Unterminated\"=hex(1):41,00\n\n"
                     "[HKEY_CURRENT_USER\\Software\\Wine\\reg_test\\Subkey1]\n"
                     "\"Binary\"=hex:11,22,33,44\n"
                     "\"Undefined hex\"=hex(100):25,50,41,54,48,25,00\n\n"
                     "[HKEY_CURRENT_USER\\Software\\Wine\\reg_test\\Subkey2a]\n"
                     "\"double\\\"quote\"=\"\\\"Hello, World!\\\"\"\n"
                     "\"single'quote\"=dword:00000008\n\n"
                     "[HKEY_CURRENT_USER\\Software\\Wine\\reg_test\\Subkey2a\\Subkey2b]\n"
                     "@=\"Default value name\"\n"
                     "\"Multiple strings\"=hex(7):4c,00,69,00,6e,00,65,00,31,00,00,00,4c,00,69,00,6e,\\\n"
                     "  00,65,00,32,00,00,00,4c,00,69,00,6e,00,65,00,33,00,00,00,00,00\n\n"
                     "[HKEY_CURRENT_USER\\Software\\Wine\\reg_test\\Subkey3a]\n"
                     "\"Backslash\"=\"Use \\\\\\\\ to escape a backslash\"\n\n"
                     "[HKEY_CURRENT_USER\\Software\\Wine\\reg_test\\Subkey3a\\Subkey3b]\n\n"
                     "[HKEY_CURRENT_USER\\Software\\Wine\\reg_test\\Subkey4]\n"
                     "@=dword:12345678\n"
                     "\"43981\"=hex(abcd):56,61,6c,75,65,00\n\n");
    sim::Registry registry;
    sim::ImportRegFile(registry, file, "export.reg");
    EXPECT_EQ(Exported(registry, "HKCU\\Software\\Wine\\reg_test"), file);
}

// What the export writes loads back to the registry it came from; a name no .reg file can give
// back is refused, never written as lines of their own.
TEST(RegistryExport, WritesOnlyWhatLoadsBackToTheSameRegistry)
{
    const struct {
        std::u16string key, value;
        const char* refusal;
    } rows[] = {
        {u" a]b[\"c; ", u"v", nullptr},
        {u"k", u"a\r\n\"b\\]", nullptr},
        {u"a\r\n[HKEY_CURRENT_USER]\r\n\"DeviceName\"=\"x\"", u"v",
         "key name holding a line break: \"a??[HKEY_CURRENT_USER]??...\""},
        {u"a\\b", u"v", "key name holding a backslash: \"a\\b\""},
        {std::u16string(u"a\0b", 3), u"v", "key name holding a NUL: \"a?b\""},
        {u"k", std::u16string(u"DeviceName\0QQ", 13), "value name holding a NUL: \"DeviceName?QQ\""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(sim::QuotedText(row.key) + " " + sim::QuotedText(row.value));
        sim::Registry registry;
        registry.Root(sim::RootKey::CurrentUser)->CreateSubkey(row.key)->SetValue(row.value, 4, {});
        if (row.refusal != nullptr) {
            FILE* out = std::tmpfile();
            try {
                replay::WriteRegExport(*replay::KeysToExport(registry, ""), out);
                ADD_FAILURE() << "written";
            } catch (const replay::ExportRefused& error) {
                EXPECT_STREQ(error.what(), row.refusal);
            }
            fclose(out);
            continue;
        }
        const std::string exported = Exported(registry);
        sim::Registry loaded;
        sim::ImportRegFile(loaded, exported, "export.reg");
        const auto key = loaded.Root(sim::RootKey::CurrentUser)->FindSubkey(row.key);
        ASSERT_TRUE(key);
        EXPECT_TRUE(key->FindValue(row.value));
        EXPECT_EQ(Exported(loaded), exported);
    }
}

} // namespace
