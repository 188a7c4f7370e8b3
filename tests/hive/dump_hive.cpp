// Writes what the platform reads from a hive (recovered first with the logs named after it, when it
// is dirty), one line a key ("K path") and one a value ("V path\name type hexdata"), paths from
// the root key, as tests/hive/differential dumps what hivex and libregf read; the lines
// come in no order of their own. With --recovered OUT, also writes the bytes it read: the hive
// as the logs left it. Exits 2 with "<file>: <reason>" for a hive the platform refuses.
//   dump_hive [--recovered OUT] HIVE [LOG...]
#include "hive/hive_builder.h"
#include "hive_file.h"
#include "hive_log.h"
#include "mapped_file.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace sim = simulated_windows;

namespace {

void Dump(const std::shared_ptr<sim::RegistryKey>& root)
{
    std::vector<std::pair<std::string, std::shared_ptr<sim::RegistryKey>>> pending{{"", root}};
    while (!pending.empty()) {
        const auto [path, key] = std::move(pending.back());
        pending.pop_back();
        std::printf("K %s\n", path.c_str());
        for (const sim::RegistryValue* value : key->Values()) {
            std::string data;
            for (const unsigned char byte : value->Data()) {
                char hex[3];
                std::snprintf(hex, sizeof hex, "%02x", byte);
                data += hex;
            }
            std::printf("V %s\\%s %u %s\n", path.c_str(),
                        hive_builder::Utf8(std::u16string(value->Name())).c_str(), value->Type(),
                        data.c_str());
        }
        for (const auto& child : key->Subkeys()) {
            pending.emplace_back(path + "\\" + hive_builder::Utf8(child->Name()), child);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    int first = 1;
    const char* recoveredPath = nullptr;
    if (argc > 2 && std::strcmp(argv[1], "--recovered") == 0) {
        recoveredPath = argv[2];
        first = 3;
    }
    if (argc <= first) {
        std::fprintf(stderr, "usage: dump_hive [--recovered OUT] HIVE [LOG...]\n");
        return 2;
    }
    try {
        const sim::MappedFile hive(argv[first]);
        std::vector<sim::MappedFile> files;
        std::vector<sim::HiveLog> logs;
        files.reserve(static_cast<std::size_t>(argc - first));
        for (int i = first + 1; i < argc; ++i) {
            logs.push_back({argv[i], files.emplace_back(argv[i]).Bytes()});
        }
        if (recoveredPath != nullptr) {
            const sim::RecoveredHive recovered = sim::RecoverHive(hive.Bytes(), logs);
            std::ofstream(recoveredPath, std::ios::binary)
                << (recovered.bytes.empty() ? hive.Bytes() : std::string_view(recovered.bytes));
        }
        const auto root = std::make_shared<sim::RegistryKey>(u"");
        sim::ReadHive(hive.Bytes(), logs, argv[first], root);
        Dump(root);
    } catch (const sim::RefusedInput& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 2;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
