// Saves machines as a SYSTEM hive, as `reg save HKLM\SYSTEM` would: for the hive runs of
// tests/machines and for the benchmarks. With --dirty (or --dirty-old), the hive is left as a
// write that did not finish leaves it, the write that would make it the machine of AFTER.reg in
// the logs beside it: OUT.hiv.LOG1 and OUT.hiv.LOG2 in the format of Windows 8.1 and later, or
// OUT.hiv.LOG1 in that of Windows XP to 8. For the hive fuzzer's seeds, and a replay by hand.
// Or writes the hostile hives of hive_builder.h, one file a shape named after it, as seeds for the
// hive fuzzer; or, with --valid, the shapes Windows writes that hivex does not. With --subtrees,
// the machine as `reg save` of its two keys the tool reads writes it: DIR/enum.hiv, its root named
// Enum, and DIR/class.hiv, its root named Class.
//   make_system_hive OUT.hiv [--control-set N | --dirty AFTER.reg | --dirty-old AFTER.reg] FILE.reg...
//   make_system_hive --hostile DIR | --valid DIR | --subtrees DIR FILE.reg...
#include "hive/hive_builder.h"
#include "hive/log_builder.h"
#include "reg_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string Slurp(const std::string& path)
{
    return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
}

void Save(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: make_system_hive OUT.hiv [--control-set N | --dirty AFTER.reg | --dirty-old "
                        "AFTER.reg] FILE.reg...\n");
        return 2;
    }
    if (std::strcmp(argv[1], "--hostile") == 0) {
        for (const hive_builder::Shape shape : hive_builder::Shapes) {
            const std::string path = std::string(argv[2]) + "/" + hive_builder::ShapeName(shape) + ".hiv";
            std::ofstream(path, std::ios::binary) << hive_builder::HostileHive(shape, 4);
        }
        return 0;
    }
    if (std::strcmp(argv[1], "--valid") == 0) {
        for (const hive_builder::ValidShape shape : hive_builder::ValidShapes) {
            const std::string path =
                std::string(argv[2]) + "/" + hive_builder::ValidShapeName(shape) + ".hiv";
            std::ofstream(path, std::ios::binary) << hive_builder::ValidHive(shape);
        }
        return 0;
    }
    if (std::strcmp(argv[1], "--subtrees") == 0) {
        try {
            simulated_windows::Registry machine;
            for (int i = 3; i < argc; ++i) {
                simulated_windows::ImportRegFile(machine, Slurp(argv[i]), argv[i]);
            }
            const std::string dir = argv[2];
            hive_builder::WriteSubtreeHive(dir + "/enum.hiv", machine, u"SYSTEM\\CurrentControlSet\\Enum",
                                           "Enum");
            hive_builder::WriteSubtreeHive(dir + "/class.hiv", machine,
                                           u"SYSTEM\\CurrentControlSet\\Control\\Class", "Class");
        } catch (const std::exception& error) {
            fprintf(stderr, "%s\n", error.what());
            return 1;
        }
        return 0;
    }
    const std::string out = argv[1];
    const std::string option = argc > 4 && std::strncmp(argv[2], "--", 2) == 0 ? argv[2] : "";
    const int first = option.empty() ? 2 : 4;
    const auto controlSet =
        static_cast<std::uint32_t>(option == "--control-set" ? std::strtoul(argv[3], nullptr, 10) : 1);
    try {
        simulated_windows::Registry machine;
        for (int i = first; i < argc; ++i) {
            simulated_windows::ImportRegFile(machine, Slurp(argv[i]), argv[i]);
        }
        hive_builder::WriteSystemHive(out, machine, controlSet);
        if (option == "--dirty" || option == "--dirty-old") {
            const std::string before = Slurp(out);
            simulated_windows::ImportRegFile(machine, Slurp(argv[3]), argv[3]);
            hive_builder::WriteSystemHive(out, machine, controlSet);
            const std::string after = Slurp(out);
            const std::string dirty = hive_builder::DirtyHive(before, 1);
            Save(out, dirty);
            if (option == "--dirty-old") {
                Save(out + ".LOG1", hive_builder::OldFormatLog(before, after));
            } else {
                // The write in LOG1; in LOG2 an entry that follows it and changes nothing. As on
                // Windows, the hive's own sequence numbers lag far behind its logs'.
                Save(out + ".LOG1", hive_builder::NewFormatLog(dirty, {{before, after, 31}}));
                Save(out + ".LOG2", hive_builder::NewFormatLog(dirty, {{after, after, 32}}));
            }
        }
    } catch (const std::exception& error) {
        fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
