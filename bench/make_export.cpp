// Writes LargeExport(KEYS) to FILE, for timing the loader against Wine's regedit on the same file.
//   make_export FILE [KEYS]      (default 200000)
#include "large_export.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: make_export FILE [KEYS]\n");
        return 2;
    }
    const std::size_t keys = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 200000;
    const std::string text = LargeExport(keys);
    std::ofstream(argv[1], std::ios::binary) << text;
    printf("%zu bytes\n", text.size());
    return 0;
}
