// Machines replayed from saved SYSTEM hives: the control set that Select\Current names is the one
// CurrentControlSet leads to, .reg files mix with hives in order, and a damaged hive, or one that is
// not a SYSTEM hive, is refused whole with what is wrong.
#include "adapter_report/adapter_report.h"
#include "hive/hive_builder.h"
#include "reg_file.h"
#include "simulated_windows/simulated_platform.h"
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

TEST(Hives, CurrentControlSetLeadsToTheControlSetSelectNames)
{
    const std::string hive = TwoControlSets();
    sim::LoadMachineFromFiles({hive});
    EXPECT_EQ(CaptureStdout(PrintAdapterReport), ReportOf("new"));
    std::remove(hive.c_str());
}

// A .reg file after a hive writes through the link into the control set in use; one before it
// is kept where the hive does not say otherwise.
TEST(Hives, RegFilesMixWithHivesInOrder)
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

TEST(Hives, DamagedOrForeignHivesAreRefusedWhole)
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
    const std::string selectSeven = TempPath("seven.hiv");
    hive_builder::WriteSystemHive(
        selectSeven, ImportedRegistry({Adapter("CurrentControlSet", "x"),
                                       "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]\n\"Current\"=dword:7\n"}));

    const std::pair<std::string, std::string> cases[] = {
        {WriteBytes("cut.hiv", bytes.substr(0, 6000)), "a damaged hive: cut short: its hive bins need " +
                                                           std::to_string(bytes.size()) +
                                                           " bytes, the file has 6000"},
        {WriteBytes("sum.hiv", badChecksum), "a damaged hive: the checksum of its base block is wrong"},
        {WriteBytes("cell.hiv", badCell), "a damaged hive: hivex cannot read its keys"},
        {WriteBytes("empty.hiv", hive_builder::EmptyHive()), "not a SYSTEM hive: it has no Select key"},
        {selectSeven, "not a SYSTEM hive: Select\\Current is 7, but the hive has no ControlSet007"},
        {deepHive, "key nested more than 512 levels deep"},
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

} // namespace
