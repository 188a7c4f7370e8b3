// Machines replayed from saved SYSTEM hives: the control set that Select\Current names is the one
// CurrentControlSet leads to, .reg files mix with hives in order, and a damaged hive, or one that is
// not a SYSTEM hive, is refused whole with what is wrong.
#include "adapter_report/adapter_report.h"
#include "hive/hive_builder.h"
#include "hive_cells.h"
#include "reg_file.h"
#include "regf_layout.h"
#include "simulated_windows/simulated_platform.h"
#include "support/platform_test.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

using namespace test_support;
namespace sim = simulated_windows;

namespace {

std::string TempPath(const std::string& name)
{
    return "/tmp/adapter_report_hive_test_" + std::to_string(getpid()) + "_" + name;
}

std::string WriteBytes(const std::string& name, const std::string& bytes)
{
    const std::string path = TempPath(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

using hive_builder::Shape;

std::string Hostile(Shape shape, std::size_t size)
{
    return WriteBytes(std::string(hive_builder::ShapeName(shape)) + ".hiv",
                      hive_builder::HostileHive(shape, size));
}

// A machine of .reg sections, imported the way the platform imports files.
sim::Registry ImportedRegistry(std::initializer_list<std::string> sections)
{
    sim::Registry machine;
    sim::ImportRegFile(machine, RegFile(sections), "machine.reg");
    return machine;
}

std::string Adapter(const std::string& controlSet, const std::string& name)
{
    return "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\" + controlSet + "\\Enum\\ROOT\\NET\\0000]\n\"ClassGUID\"=\"" +
           std::string(NetClass) + "\"\n\"DeviceDesc\"=\"  Brenlok Hardware Abstraction Driver " + name +
           "\"\n\"Driver\"=\"" + std::string(NetClass) + "\\\\0000\"\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\" +
           controlSet + "\\Control\\Class\\" + std::string(NetClass) + "\\0000]\n\"DeviceName\"=\"" + name +
           "\"\n";
}

std::string ReportOf(const std::string& name)
{
    return "\n*   Brenlok Hardware Abstraction Driver " + name +
           "\nGetRegistryStringValue(): DeviceName: " + name + "\nTaldric Name: " + name + "\n";
}

// A hive whose ControlSet001 holds "old" and ControlSet002, which Select\Current names, "new",
// beside a stored CurrentControlSet key that the link Windows makes at boot shadows.
std::string TwoControlSets()
{
    std::string hive = hive_builder::SystemHive(
        ImportedRegistry({Adapter("ControlSet001", "old"), Adapter("CurrentControlSet", "new"),
                          "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\StoredControlSet1\\Enum\\ROOT\\NET\\0000]\n"
                          "\"LocationInformation\"=\"stale\"\n"}),
        2);
    hive_builder::RenameKey(hive, "StoredControlSet1", "CurrentControlSet");
    return WriteBytes("two.hiv", hive);
}

class Hives : public PlatformTest {};

TEST_F(Hives, CurrentControlSetLeadsToTheControlSetSelectNames)
{
    const std::string hive = TwoControlSets();
    sim::LoadMachineFromFiles({hive});
    EXPECT_EQ(CaptureStdout(PrintAdapterReport), ReportOf("new"));
    std::remove(hive.c_str());
}

// A .reg file after a hive writes through the link into the control set in use; one before it
// is kept where the hive does not say otherwise.
TEST_F(Hives, RegFilesMixWithHivesInOrder)
{
    const std::string hive = TwoControlSets();
    const std::string patch = WriteBytes(
        "patch.reg", RegFile({NetDriverKey("0000", "\"DeviceName\"=\"patched\"\n\"Added\"=\"yes\"\n")}));
    sim::LoadMachineFromFiles({hive, patch});
    EXPECT_EQ(CaptureStdout(PrintAdapterReport),
              "\n*   Brenlok Hardware Abstraction Driver new\nGetRegistryStringValue(): DeviceName: patched\n"
              "Taldric Name: patched\n");
    const std::string classKey = "SYSTEM\\ControlSet002\\Control\\Class\\" + std::string(NetClass) + "\\0000";
    EXPECT_TRUE(sim::ReadStoredValue(HKEY_LOCAL_MACHINE, classKey, "Added"));
    EXPECT_FALSE(sim::ReadStoredValue(
        HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001\\Control\\Class\\" + std::string(NetClass) + "\\0000",
        "Added"));

    sim::LoadMachineFromFiles({patch, hive});
    EXPECT_EQ(CaptureStdout(PrintAdapterReport), ReportOf("new")); // the hive's name wins
    EXPECT_TRUE(sim::ReadStoredValue(HKEY_LOCAL_MACHINE, classKey, "Added"));
    std::remove(hive.c_str());
    std::remove(patch.c_str());
}

// reg save of Enum and of Control\Class: each hive goes where its root key's name says, whatever
// the order, beside a .reg file of the other key, and into the control set in use when a SYSTEM
// hive came first.
TEST_F(Hives, SubtreeHivesGoWhereTheirRootKeysNamesSay)
{
    const sim::Registry machine = ImportedRegistry({Adapter("CurrentControlSet", "sub")});
    const std::string enumHive = TempPath("enum.hiv"), classHive = TempPath("class.hiv");
    hive_builder::WriteSubtreeHive(enumHive, machine, u"SYSTEM\\CurrentControlSet\\Enum", "Enum");
    hive_builder::WriteSubtreeHive(classHive, machine, u"SYSTEM\\CurrentControlSet\\Control\\Class", "Class");
    const std::string classReg = WriteBytes(
        "class.reg", RegFile({"\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\" +
                              std::string(NetClass) + "\\0000]\n\"DeviceName\"=\"sub\"\n"}));
    const std::string twoSets = TwoControlSets();
    const std::vector<std::string> rows[] = {
        {enumHive, classHive}, {classHive, enumHive}, {enumHive, classReg}, {twoSets, classHive}};
    for (const auto& files : rows) {
        SCOPED_TRACE(files.front() + " " + files.back());
        sim::LoadMachineFromFiles(files);
        // After the SYSTEM hive, the description is its control set's, the driver key the Class hive's.
        EXPECT_EQ(CaptureStdout(PrintAdapterReport),
                  files.front() == twoSets
                      ? "\n*   Brenlok Hardware Abstraction Driver new\nGetRegistryStringValue(): "
                        "DeviceName: sub\nTaldric Name: sub\n"
                      : ReportOf("sub"));
    }
    // The Class hive went into ControlSet002, the set in use, over the hive's own Class key.
    EXPECT_TRUE(sim::ReadStoredValue(
        HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet002\\Control\\Class\\" + std::string(NetClass) + "\\0000",
        "DeviceName"));
    for (const std::string& path : {enumHive, classHive, classReg, twoSets}) {
        std::remove(path.c_str());
    }
}

TEST_F(Hives, DamagedOrForeignHivesAreRefusedWhole)
{
    const std::string good = TempPath("good.hiv");
    hive_builder::WriteSystemHive(good, ImportedRegistry({Adapter("CurrentControlSet", "good")}));
    std::string bytes;
    {
        std::ifstream stream(good, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(stream), {});
    }
    std::string badChecksum = bytes;
    badChecksum[0x40] ^= 0x55;
    std::string badCell = bytes;
    badCell[0x1000 + 0x40] ^= 0x7F;
    // Keys 513 levels below HKEY_LOCAL_MACHINE, one more than Windows takes: SYSTEM, then 512.
    sim::Registry deep = ImportedRegistry({Adapter("CurrentControlSet", "x")});
    std::u16string deepPath = u"SYSTEM";
    for (int level = 0; level < 512; ++level) {
        deepPath += u"\\k";
    }
    sim::CreateKey(deep.Root(sim::RootKey::LocalMachine), sim::SplitKeyPath(deepPath));
    const std::string deepHive = WriteBytes("deep.hiv", hive_builder::SystemHive(deep));
    // Names one past what Windows takes, which a .reg file is refused for too.
    sim::Registry longNames = ImportedRegistry({Adapter("CurrentControlSet", "x")});
    sim::CreateKey(longNames.Root(sim::RootKey::LocalMachine),
                   sim::SplitKeyPath(u"SYSTEM\\Long\\" + std::u16string(sim::MaxKeyNameLength + 1, u'k')));
    const std::string longKeyHive = WriteBytes("longkey.hiv", hive_builder::SystemHive(longNames));
    sim::Registry longValue = ImportedRegistry({Adapter("CurrentControlSet", "x")});
    sim::CreateKey(longValue.Root(sim::RootKey::LocalMachine), sim::SplitKeyPath(u"SYSTEM\\Long"))
        ->SetValue(std::u16string(sim::MaxValueNameLength + 1, u'n'), 4, {});
    const std::string longValueHive = WriteBytes("longvalue.hiv", hive_builder::SystemHive(longValue));
    const std::string selectSeven = TempPath("seven.hiv");
    hive_builder::WriteSystemHive(
        selectSeven, ImportedRegistry({Adapter("CurrentControlSet", "x"),
                                       "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]\n\"Current\"=dword:7\n"}));

    // Names no Windows holds, patched into a hive hivex wrote: hivex hands them out cut at a NUL.
    const auto badName = [&](const char* file, const std::string& key, const std::string& value) {
        sim::Registry named = ImportedRegistry({Adapter("CurrentControlSet", "x")});
        sim::CreateKey(named.Root(sim::RootKey::LocalMachine), sim::SplitKeyPath(u"SYSTEM\\Named\\0007XQ"))
            ->SetValue(u"DeviceNameXQQ", 1, {});
        std::string hive = hive_builder::SystemHive(named);
        if (!key.empty()) {
            hive_builder::RenameKey(hive, "Named\\0007XQ", key);
        } else {
            hive_builder::RenameValue(hive, "Named\\0007XQ", "DeviceNameXQQ", value);
        }
        return WriteBytes(file, hive);
    };
    const std::pair<std::string, std::string> cases[] = {
        {badName("nulkey.hiv", std::string("0007\0Q", 6), ""),
         "a damaged hive: key name holding a NUL: \"0007?Q\""},
        {badName("slashkey.hiv", "000\\7Q", ""), "a damaged hive: key name holding a backslash: \"000\\7Q\""},
        {badName("crlfkey.hiv", "00\r\n7Q", ""), "a damaged hive: key name holding a line break: \"00??7Q\""},
        {badName("nulvalue.hiv", "", std::string("DeviceName\0QQ", 13)),
         "a damaged hive: value name holding a NUL: \"DeviceName?QQ\""},
        {WriteBytes("cut.hiv", bytes.substr(0, 6000)), "a damaged hive: cut short: its hive bins need " +
                                                           std::to_string(bytes.size()) +
                                                           " bytes, the file has 6000"},
        {WriteBytes("sum.hiv", badChecksum), "a damaged hive: the checksum of its base block is wrong"},
        {WriteBytes("cell.hiv", badCell), "a damaged hive: hivex cannot read its keys"},
        {WriteBytes("empty.hiv", hive_builder::EmptyHive()),
         "neither a SYSTEM hive (it has no Select key) nor a hive of Enum or Control\\Class: its root key is "
         "named \"ROOT\", as reg save names it after the key saved"},
        {WriteBytes("software.hiv", hive_builder::EmptyHive("Software")),
         "neither a SYSTEM hive (it has no Select key) nor a hive of Enum or Control\\Class: its root key is "
         "named \"Software\", as reg save names it after the key saved"},
        {selectSeven, "not a SYSTEM hive: Select\\Current is 7, but the hive has no ControlSet007"},
        {deepHive, "key nested more than 512 levels deep"},
        {longKeyHive, "key name longer than 255 characters: \"kkkkkkkkkkkkkkkkkkkkkkkk...\""},
        {longValueHive, "value name longer than 16383 characters: \"nnnnnnnnnnnnnnnnnnnnnnnn...\""},
        // Built by hand: read naively, the first takes 2^40 steps, the others many times the file.
        {Hostile(Shape::RepeatedSubkey, 40), "a damaged hive: a key is reached twice through subkey lists"},
        {Hostile(Shape::SharedSubkey, 0), "a damaged hive: a key is reached twice through subkey lists"},
        {Hostile(Shape::OwnDescendant, 0), "a damaged hive: a key is reached twice through subkey lists"},
        {Hostile(Shape::SharedValues, 2), "a damaged hive: a value is reached twice through value lists"},
        {Hostile(Shape::SharedData, 2), "a damaged hive: two values share their data"},
        {Hostile(Shape::SharedSegments, 2),
         "a damaged hive: its values hold more data than the file has bytes (32768)"},
        {Hostile(Shape::HugeIndexRoot, 0),
         "a damaged hive: a list declares more entries than its cell holds"},
        {Hostile(Shape::HugeBlockList, 1),
         "a damaged hive: a list declares more entries than its cell holds"},
    };
    for (const auto& [path, reason] : cases) {
        SCOPED_TRACE(path);
        sim::LoadMachineFromFiles({good});
        try {
            sim::LoadMachineFromFiles({good, path});
            ADD_FAILURE() << "accepted";
        } catch (const sim::RefusedInput& error) {
            EXPECT_EQ(error.what(), path + ": " + reason);
        }
        EXPECT_EQ(CaptureStdout(PrintAdapterReport), ReportOf("good")); // nothing half-loaded
        std::remove(path.c_str());
    }
    std::remove(good.c_str());
}

// hivex takes an index root's count, and the counts of the leaves it names, on trust: the checks
// before it, over a key whose subkey list is an index root naming one leaf. A leaf's entries take
// 4 bytes ("li") or 8 ("lf", "lh").
TEST(HiveCells, AnIndexRootAndItsLeavesHoldWhatTheyDeclare)
{
    namespace regf = sim::regf;
    struct Case {
        const char* situation;
        const char* list; // the key's list: "ri", or a leaf's kind for a key without an index root
        std::uint16_t rootCount;
        const char* leaf;
        std::uint16_t leafCount;
        std::int32_t leafCell; // its size
        const char* fault;
    };
    const char* const tooMany = "a list declares more entries than its cell holds";
    const Case cases[] = {
        {"li entries in a cell just large enough", "ri", 1, "li", 3, 24, nullptr},
        {"lh entries in a cell just large enough", "ri", 1, "lh", 3, 32, nullptr},
        {"lf entries one too many", "ri", 1, "lf", 4, 32, tooMany},
        {"li entries one too many", "ri", 1, "li", 5, 24, tooMany},
        {"an index root that declares more leaves than it holds", "ri", 3, "li", 1, 16, tooMany},
        {"a leaf of no known kind, which hivex refuses", "ri", 1, "zz", 999, 16, nullptr},
        {"a leaf named by the key, which hivex checks", "lh", 1, "lh", 999, 16, nullptr},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.situation);
        std::string hive(2 * regf::BaseBlockSize, '\0');
        const std::size_t key = regf::FirstBin + 0x20, root = key + 0x60, leaf = root + 0x10;
        regf::Write32(hive, key, static_cast<std::uint32_t>(-0x60));
        hive.replace(key + 4, 2, "nk");
        regf::Write32(hive, key + regf::key::Subkeys, 3);
        regf::Write32(hive, key + regf::key::List, static_cast<std::uint32_t>(root - regf::FirstBin));
        regf::Write32(hive, root, static_cast<std::uint32_t>(-0x10));
        hive.replace(root + regf::ListHeader, 2, row.list);
        regf::Write(hive, root + regf::ListCount, row.rootCount, 2);
        regf::Write32(hive, root + regf::ListEntries, static_cast<std::uint32_t>(leaf - regf::FirstBin));
        regf::Write32(hive, leaf, static_cast<std::uint32_t>(-row.leafCell));
        hive.replace(leaf + regf::ListHeader, 2, row.leaf);
        regf::Write(hive, leaf + regf::ListCount, row.leafCount, 2);
        const char* fault = sim::IndexRootFault(hive, key);
        EXPECT_STREQ(fault, row.fault);
    }
}

} // namespace
