// Writes, into DIR, every hostile shape of input the loaders must read in bounded time and
// memory, and lists them on standard output, one a line: "<kind> <setting> <path>", the kind being
// "hostile" or "kept" (a long line of data the registry keeps), the setting SIMULATED_REGISTRY
// or SIMULATED_PRESENT. Text files are of about SIZE bytes, hives of about a quarter of that (value
// data read before their shape, to make the file large against the process's own memory).
//   hostile_inputs DIR [SIZE]       (default 256 MiB; DIR is made if need be)
#include "hive/hive_builder.h"
#include "hive/log_builder.h"
#include "regf_layout.h"
#include "support/colliding_ids.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

std::string Utf16(const std::string& ascii)
{
    std::string bytes;
    for (const char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

// `head`, `count` copies of `unit`, then `tail`.
void WriteFile(const std::string& path, const std::string& head, const std::string& unit, std::size_t count,
               const std::string& tail = "")
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << head;
    const std::size_t chunk = 1 << 16;
    std::string block;
    for (std::size_t i = 0; i < chunk; ++i) {
        block += unit;
    }
    for (std::size_t done = 0; done < count; done += chunk) {
        out.write(block.data(), static_cast<std::streamsize>(unit.size() * std::min(chunk, count - done)));
    }
    out << tail;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: hostile_inputs DIR [SIZE]\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::filesystem::create_directories(dir);
    const std::size_t size = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : std::size_t{256} << 20;
    const auto list = [&](const char* kind, const char* setting, const std::string& name) {
        printf("%s %s %s/%s\n", kind, setting, dir.c_str(), name.c_str());
        return dir + "/" + name;
    };
    const char* registry = "SIMULATED_REGISTRY";
    const char* present = "SIMULATED_PRESENT";
    const std::string v5 = "Windows Registry Editor Version 5.00\r\n";

    WriteFile(list("hostile", registry, "first-line.reg"), "", "x", size);
    WriteFile(list("hostile", registry, "passed-over-line.reg"), "REGEDIT4\n", "x", size);
    WriteFile(list("hostile", registry, "passed-over-hex-line.reg"), "REGEDIT4\n", "a", size);
    WriteFile(list("hostile", registry, "passed-over-line-utf16.reg"), "\xFF\xFE" + Utf16(v5), Utf16("x"),
              size / 2);
    WriteFile(list("hostile", registry, "key-line.reg"), "REGEDIT4\n[HKEY_CURRENT_USER\\", "k", size);
    WriteFile(list("hostile", registry, "value-name-utf16.reg"),
              "\xFF\xFE" + Utf16(v5 + "[HKEY_CURRENT_USER\\T]\r\n\""), Utf16("n"), size / 2,
              Utf16("\"=\"\"\r\n"));
    WriteFile(list("kept", registry, "string-value.reg"), "REGEDIT4\n[HKEY_CURRENT_USER\\T]\n\"v\"=\"", "s",
              size, "\"\n");
    WriteFile(list("kept", registry, "string-value-utf16.reg"),
              "\xFF\xFE" + Utf16(v5 + "[HKEY_CURRENT_USER\\T]\r\n\"v\"=\""), Utf16("s"), size / 2,
              Utf16("\"\r\n"));

    WriteFile(list("hostile", present, "header-field.csv"), "", "n", size);
    WriteFile(list("hostile", present, "field.csv"), "InstanceId,Name\nROOT\\NET\\0000,", "n", size);
    WriteFile(list("hostile", present, "field-utf16.csv"),
              "\xFF\xFE" + Utf16("InstanceId,Name\r\nROOT\\NET\\0000,"), Utf16("n"), size / 2);
    WriteFile(list("hostile", present, "id.csv"), "Name,InstanceId\nx,", "I", size);
    WriteFile(list("hostile", present, "open-quote.csv"), "InstanceId\n\"", "n", size);
    {
        // Distinct IDs as short as instance IDs come, 16 bytes a line.
        std::ofstream out(list("hostile", present, "many-ids.csv"), std::ios::binary | std::ios::trunc);
        out << "InstanceId\n";
        char line[32];
        for (std::size_t i = 0; i < size / 16; ++i) {
            std::snprintf(line, sizeof line, "ROOT\\X\\%08zu\n", i);
            out << line;
        }
    }

    {
        // IDs made to meet in one slot of a table under an unkeyed hash, beside random IDs of the
        // same length: the two must load alike.
        std::ofstream crafted(list("hostile", present, "colliding-ids.csv"),
                              std::ios::binary | std::ios::trunc);
        std::ofstream random(list("hostile", present, "random-ids.csv"), std::ios::binary | std::ios::trunc);
        crafted << "InstanceId\n";
        random << "InstanceId\n";
        std::mt19937_64 draw(1);
        for (std::size_t i = 0, length = test_support::CollidingInstanceId(0).size(); i < size / (length + 1);
             ++i) {
            crafted << test_support::CollidingInstanceId(i) << '\n';
            std::string id = "ROOT\\X\\";
            while (id.size() < length) {
                id += "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"[draw() % 36];
            }
            random << id << '\n';
        }
    }

    for (const hive_builder::Shape shape : hive_builder::Shapes) {
        using hive_builder::Shape;
        const std::size_t count = shape == Shape::RepeatedSubkey   ? 40
                                  : shape == Shape::SharedValues   ? 1000
                                  : shape == Shape::SharedData     ? 4000
                                  : shape == Shape::SharedSegments ? 4000
                                                                   : 1;
        std::ofstream(list("hostile", registry, std::string(hive_builder::ShapeName(shape)) + ".hiv"),
                      std::ios::binary | std::ios::trunc)
            << hive_builder::HostileHive(shape, count, size / 4);
    }
    {
        // A dirty hive beside a sparse log of 4 GiB: one valid entry that claims the largest bins
        // and carries no page, which the recovery must not grow the hive to.
        const std::string hive = hive_builder::ValidHive(hive_builder::ValidShape::IndexRootOfLi);
        std::string claimed = hive;
        simulated_windows::regf::SetBaseBlockField(claimed, simulated_windows::regf::base::BinsSize,
                                                   0xFFFFF000);
        const std::string dirty = hive_builder::DirtyHive(hive, 7);
        const std::string path = list("hostile", registry, "sparse-log.hiv");
        std::ofstream(path, std::ios::binary | std::ios::trunc) << dirty;
        std::ofstream(path + ".LOG1", std::ios::binary | std::ios::trunc)
            << hive_builder::NewFormatLog(dirty, {{hive, claimed, 7}});
        std::filesystem::resize_file(path + ".LOG1", std::uint64_t{4} << 30);
    }
    return 0;
}
