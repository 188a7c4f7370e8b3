// Saves machines as a SYSTEM hive, as `reg save HKLM\SYSTEM` would: for the hive runs of
// tests/machines and for the benchmarks; or writes the hostile hives of hive_builder.h, one file a
// shape named after it, as seeds for the hive fuzzer.
//   make_system_hive OUT.hiv [--control-set N] FILE.reg...
//   make_system_hive --hostile DIR
#include "hive/hive_builder.h"
#include "simulated_windows/reg_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: make_system_hive OUT.hiv [--control-set N] FILE.reg...\n");
        return 2;
    }
    if (std::strcmp(argv[1], "--hostile") == 0) {
        for (const hive_builder::Shape shape : hive_builder::Shapes) {
            const std::string path = std::string(argv[2]) + "/" + hive_builder::ShapeName(shape) + ".hiv";
            std::ofstream(path, std::ios::binary) << hive_builder::HostileHive(shape, 4);
        }
        return 0;
    }
    int first = 2;
    std::uint32_t controlSet = 1;
    if (argc > 4 && std::strcmp(argv[2], "--control-set") == 0) {
        controlSet = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
        first = 4;
    }
    try {
        simulated_windows::Registry machine;
        for (int i = first; i < argc; ++i) {
            std::ostringstream bytes;
            bytes << std::ifstream(argv[i], std::ios::binary).rdbuf();
            simulated_windows::ImportRegFile(machine, bytes.str(), argv[i]);
        }
        hive_builder::WriteSystemHive(argv[1], machine, controlSet);
    } catch (const std::exception& error) {
        fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
