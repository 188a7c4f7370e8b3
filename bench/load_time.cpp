// Times the simulated platform's import of a .reg file, as the tool does it at start-up, and
// prints "<seconds> <MB/s> <peak resident MiB>" (MB of 10^6 bytes; the peak from getrusage, for
// the whole process, which holds nothing else of size).
//   load_time FILE
#include "simulated_windows/simulated_platform.h"

#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <sys/stat.h>

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: load_time FILE\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    try {
        simulated_windows::LoadMachineFromFiles({argv[1]});
    } catch (const simulated_windows::RefusedInput& error) {
        fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct stat file {};
    stat(argv[1], &file);
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    printf("%.3f %.1f %.0f\n", seconds, static_cast<double>(file.st_size) / 1e6 / seconds,
           static_cast<double>(usage.ru_maxrss) / 1024.0);
    return 0;
}
