// Times the simulated platform's import of a .reg file, as the tool does it at start-up, and
// prints "<seconds> <MB/s> <peak resident MiB>" (MB of 10^6 bytes; the peak from getrusage, for
// the whole process, which holds nothing else of size). With --hostile, a file refused is timed
// like one loaded, and "refused" follows the figures; with --present, the file is a presence list.
//   load_time [--hostile] [--present] FILE
#include "mapped_file.h"
#include "simulated_windows/simulated_platform.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>

int main(int argc, char** argv)
{
    bool hostile = false;
    bool present = false;
    int arg = 1;
    for (; arg < argc - 1 && argv[arg][0] == '-'; ++arg) {
        hostile = hostile || std::strcmp(argv[arg], "--hostile") == 0;
        present = present || std::strcmp(argv[arg], "--present") == 0;
    }
    if (arg != argc - 1) {
        fprintf(stderr, "usage: load_time [--hostile] [--present] FILE\n");
        return 2;
    }
    const char* path = argv[arg];
    const auto start = std::chrono::steady_clock::now();
    bool refused = false;
    try {
        if (present) {
            const simulated_windows::MappedFile file(path);
            simulated_windows::LoadPresentDevices(file.Bytes(), path);
        } else {
            simulated_windows::LoadMachineFromFiles({path});
        }
    } catch (const simulated_windows::RefusedInput& error) {
        fprintf(stderr, "%s\n", error.what());
        if (!hostile) {
            return 1;
        }
        refused = true;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct stat file {};
    stat(path, &file);
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    printf("%.3f %.1f %.0f%s\n", seconds, static_cast<double>(file.st_size) / 1e6 / seconds,
           static_cast<double>(usage.ru_maxrss) / 1024.0, refused ? " refused" : "");
    return 0;
}
