#include "present_devices/present_devices.h"

#include <cstdio>
#include <cstring>

namespace {

// A device instance ID has fewer than MAX_DEVICE_ID_LEN (200) characters, its terminator aside
// (Microsoft, "Device instance ID"): with the terminator, it fits here.
const DWORD INSTANCE_ID_SIZE = 200;
char InstanceId[INSTANCE_ID_SIZE];

// Says that standard output took less than the whole list (a full disk, a closed pipe); returns
// EXIT_FAILED.
int ReportWriteFailure()
{
    fprintf(stderr, "present_devices: the list could not be written whole\n");
    return EXIT_FAILED;
}

// Whether an ID can be written as it is: Windows makes instance IDs of the characters above 0x20
// up to 0x7F, no comma among them (the rules for IDs a driver returns to IRP_MN_QUERY_ID). Anything
// else came through the ANSI conversion changed, or is no ID Windows made: the replay would refuse
// the list, and a line break would split it.
bool IsPlainId(const char* id, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(id[i]);
        if (c <= 0x20 || c > 0x7F || c == ',') {
            return false;
        }
    }
    return true;
}

// Writes one ID as a CSV line: in quotes, with quotes doubled, when it holds a quote, which a
// reader would otherwise take for the start of a quoted field. Returns false when the write fails.
bool WriteIdLine(const char* id, size_t length)
{
    if (strchr(id, '"') == nullptr) {
        return printf("%s\n", id) >= 0;
    }
    if (putchar('"') == EOF) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if ((id[i] == '"' && putchar('"') == EOF) || putchar(id[i]) == EOF) {
            return false;
        }
    }
    return printf("\"\n") >= 0;
}

// Reads device `index`'s instance ID into InstanceId and checks that it can be written as it is.
// Returns EXIT_DONE, or EXIT_FAILED having said why.
int ReadInstanceId(HDEVINFO devices, PSP_DEVINFO_DATA device, DWORD index)
{
    DWORD needed = 0;
    if (!SetupDiGetDeviceInstanceIdA(devices, device, InstanceId, INSTANCE_ID_SIZE, &needed)) {
        const DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            return ReportFailure("SetupDiGetDeviceInstanceIdA", error);
        }
        fprintf(stderr,
                "present_devices: device number %u has an instance ID of %u characters, more than Windows "
                "allows\n",
                static_cast<unsigned>(index), static_cast<unsigned>(needed > 0 ? needed - 1 : 0));
        return EXIT_FAILED;
    }
    const size_t length = strnlen(InstanceId, INSTANCE_ID_SIZE);
    if (length == INSTANCE_ID_SIZE || !IsPlainId(InstanceId, length)) {
        fprintf(
            stderr,
            "present_devices: device number %u has an instance ID with characters Windows does not allow\n",
            static_cast<unsigned>(index));
        return EXIT_FAILED;
    }
    return EXIT_DONE;
}

// Goes through the set once: checking every ID (writing nothing), or writing every line. Returns
// the exit status.
int PassOverDevices(HDEVINFO devices, bool write)
{
    SP_DEVINFO_DATA device;
    memset(&device, 0, sizeof device);
    device.cbSize = sizeof device;
    if (write && printf("InstanceId\n") < 0) {
        return ReportWriteFailure();
    }
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        const int status = ReadInstanceId(devices, &device, index);
        if (status != EXIT_DONE) {
            return status;
        }
        if (write && !WriteIdLine(InstanceId, strnlen(InstanceId, INSTANCE_ID_SIZE))) {
            return ReportWriteFailure();
        }
    }
    // The enumeration ends with ERROR_NO_MORE_ITEMS; any other error leaves the list short.
    const DWORD error = GetLastError();
    return error == ERROR_NO_MORE_ITEMS ? EXIT_DONE : ReportFailure("SetupDiEnumDeviceInfo", error);
}

} // namespace

int ReportFailure(const char* what, DWORD error)
{
    fprintf(stderr, "present_devices: %s failed (error 0x%08X)\n", what, static_cast<unsigned>(error));
    return EXIT_FAILED;
}

int ListPresentDevices()
{
    HDEVINFO devices = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) {
        return ReportFailure("SetupDiGetClassDevsA", GetLastError());
    }
    // Every ID is checked before the first line is written: a refused list is no list at all.
    int status = PassOverDevices(devices, false);
    if (status == EXIT_DONE) {
        status = PassOverDevices(devices, true);
    }
    SetupDiDestroyDeviceInfoList(devices);

    // A list cut short by a full disk must not pass for a whole one.
    if (status == EXIT_DONE && (fflush(stdout) != 0 || ferror(stdout) != 0)) {
        status = ReportWriteFailure();
    }
    return status;
}

int CheckElevation()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        ReportFailure("OpenProcessToken", GetLastError());
        return EXIT_ELEVATION_UNKNOWN;
    }
    TOKEN_ELEVATION elevation;
    elevation.TokenIsElevated = 0;
    DWORD size = 0;
    const BOOL answered = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    const DWORD error = GetLastError();
    CloseHandle(token);
    if (!answered) {
        ReportFailure("GetTokenInformation(TokenElevation)", error);
        return EXIT_ELEVATION_UNKNOWN;
    }
    return elevation.TokenIsElevated != 0 ? EXIT_ELEVATED : EXIT_NOT_ELEVATED;
}
