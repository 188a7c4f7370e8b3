// Writes a large export to FILE, for timing the loader (and Wine's regedit) on the same file.
//   make_export FILE [KEYS]           LargeExport(KEYS), default 200000
//   make_export --wide FILE VALUES    WideKeyExport(VALUES): one key with that many values
//   make_export --system FILE KEYS    LargeExport(KEYS) with keys under HKLM\SYSTEM alone
#include "large_export.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

int main(int argc, char** argv)
{
    const bool wide = argc > 1 && std::strcmp(argv[1], "--wide") == 0;
    const bool system = argc > 1 && std::strcmp(argv[1], "--system") == 0;
    const bool option = wide || system;
    if (argc < (option ? 4 : 2)) {
        fprintf(stderr, "usage: make_export [--wide|--system] FILE [KEYS|VALUES]\n");
        return 2;
    }
    const char* path = argv[option ? 2 : 1];
    const char* count = argc > (option ? 3 : 2) ? argv[option ? 3 : 2] : "200000";
    const std::size_t n = std::strtoul(count, nullptr, 10);
    const std::string text = wide ? WideKeyExport(n) : LargeExport(n, system);
    std::ofstream(path, std::ios::binary) << text;
    printf("%zu bytes\n", text.size());
    return 0;
}
