// Writes a large export to FILE, for timing the loader (and Wine's regedit) on the same file.
//   make_export FILE [KEYS]           LargeExport(KEYS), default 200000
//   make_export --wide FILE VALUES    WideKeyExport(VALUES): one key with that many values
#include "large_export.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

int main(int argc, char** argv)
{
    const bool wide = argc > 1 && std::strcmp(argv[1], "--wide") == 0;
    if (argc < (wide ? 4 : 2)) {
        fprintf(stderr, "usage: make_export FILE [KEYS] | make_export --wide FILE VALUES\n");
        return 2;
    }
    const char* path = argv[wide ? 2 : 1];
    const char* count = argc > (wide ? 3 : 2) ? argv[wide ? 3 : 2] : "200000";
    const std::size_t n = std::strtoul(count, nullptr, 10);
    const std::string text = wide ? WideKeyExport(n) : LargeExport(n);
    std::ofstream(path, std::ios::binary) << text;
    printf("%zu bytes\n", text.size());
    return 0;
}
