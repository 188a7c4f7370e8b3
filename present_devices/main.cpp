#include "present_devices/present_devices.h"

#if PLATFORM_HAS_SHELL
#include "present_devices/elevate.h"
#endif

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    if (argc == 1) {
        return ListPresentDevices();
    }
    if (argc == 2 && strcmp(argv[1], "/elevated") == 0) {
        return CheckElevation();
    }
#if PLATFORM_HAS_SHELL
    if (argc == 2 && strcmp(argv[1], "/console") == 0) {
        return CheckConsole();
    }
    if (argc >= 3 && strcmp(argv[1], "/elevate") == 0) {
        return RunElevated();
    }
    fprintf(stderr,
            "usage: present_devices [/elevated | /console | /elevate \"BATCH FILE\" [ARGUMENT...]]\n");
#else
    fprintf(stderr, "usage: present_devices [/elevated]\n");
#endif
    return EXIT_FAILED;
}
