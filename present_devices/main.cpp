#include "present_devices/present_devices.h"

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
    fprintf(stderr, "usage: present_devices [/elevated]\n");
    return EXIT_FAILED;
}
