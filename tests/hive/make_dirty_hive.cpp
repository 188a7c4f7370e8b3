// Saves a machine as a SYSTEM hive that a write did not finish, with the transaction logs that
// write left beside it, as on the disk of a Windows that stopped: for the hive fuzzer's seeds and
// for trying a replay by hand.
//   make_dirty_hive OUT BEFORE.reg AFTER.reg [--old-format]
// OUT holds the machine of BEFORE.reg; OUT.LOG1 (and, for the format of Windows 8.1 and later,
// OUT.LOG2) the write that makes it the machine of AFTER.reg.
#include "hive/hive_builder.h"
#include "hive/log_builder.h"
#include "simulated_windows/reg_file.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string Slurp(const std::string& path)
{
    return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
}

std::string HiveOf(const std::string& regFile, const std::string& scratch)
{
    simulated_windows::Registry machine;
    simulated_windows::ImportRegFile(machine, Slurp(regFile), regFile);
    hive_builder::WriteSystemHive(scratch, machine);
    return Slurp(scratch);
}

} // namespace

int main(int argc, char** argv)
{
    const bool oldFormat = argc == 5 && std::strcmp(argv[4], "--old-format") == 0;
    if (argc != 4 && !oldFormat) {
        fprintf(stderr, "usage: make_dirty_hive OUT BEFORE.reg AFTER.reg [--old-format]\n");
        return 2;
    }
    const std::string out = argv[1];
    try {
        const std::string before = HiveOf(argv[2], out);
        const std::string after = HiveOf(argv[3], out);
        const std::string dirty = hive_builder::DirtyHive(before, 1);
        std::ofstream(out, std::ios::binary | std::ios::trunc) << dirty;
        if (oldFormat) {
            std::ofstream(out + ".LOG1", std::ios::binary | std::ios::trunc)
                << hive_builder::OldFormatLog(before, after);
        } else {
            // The write in LOG1, and in LOG2 an entry that follows it and changes nothing.
            std::ofstream(out + ".LOG1", std::ios::binary | std::ios::trunc)
                << hive_builder::NewFormatLog(dirty, {{before, after, 1}});
            std::ofstream(out + ".LOG2", std::ios::binary | std::ios::trunc)
                << hive_builder::NewFormatLog(dirty, {{after, after, 2}});
        }
    } catch (const std::exception& error) {
        fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
