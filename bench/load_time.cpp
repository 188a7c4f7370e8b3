// Times the simulated platform's import of a .reg file, as the tool does it at start-up, and
// prints "<seconds> <MB/s>" (MB of 10^6 bytes).
//   load_time FILE
#include "simulated_windows/simulated_platform.h"

#include <chrono>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: load_time FILE\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    simulated_windows::LoadMachineFromFiles({argv[1]});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    FILE* file = fopen(argv[1], "rb");
    fseek(file, 0, SEEK_END);
    const double megabytes = static_cast<double>(ftell(file)) / 1e6;
    fclose(file);
    printf("%.3f %.1f\n", seconds, megabytes / seconds);
    return 0;
}
