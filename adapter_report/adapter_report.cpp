#include "adapter_report/adapter_report.h"

#include "registry_values/registry_values.h"

#include <cstdio>
#include <cstring>

// The record the scan reuses must have the size Windows checks cbSize against.
static_assert(sizeof(SP_DEVINFO_DATA) == (sizeof(void*) == 8 ? 32 : 28),
              "SP_DEVINFO_DATA as Windows lays it out");

const char AdapterDescriptionPrefix[] = "  Brenlok Hardware Abstraction Driver";

namespace {

// Program-wide buffers: they live for the whole run.
char InstanceIdBuffer[PROPERTY_BUFFER_SIZE];
char DescriptionBuffer[PROPERTY_BUFFER_SIZE];
char PrefixWorkingCopy[PROPERTY_BUFFER_SIZE];
DWORD PropertyDataType;

const DWORD DEVICE_NAME_SIZE = 100;

// KEY_READ with KEY_SET_VALUE (0x2001B): the driver key is opened so that its values could be
// stored as well as read.
const REGSAM DRIVER_KEY_ACCESS = KEY_READ | KEY_SET_VALUE;

// Shown in place of a "DeviceName" that cannot be read whole.
const char DEVICE_NAME_PLACEHOLDER = '\n';

// The length of the text in a property buffer, never looking past its capacity: the platform
// does not promise a terminator.
int PropertyTextLength(const char* buffer)
{
    return static_cast<int>(strnlen(buffer, PROPERTY_BUFFER_SIZE));
}

// Reads a text property into a PROPERTY_BUFFER_SIZE buffer. The buffer is cleared first: the
// read reports no length, and a value that is not a terminated string must not run on into
// whatever the buffer held before.
BOOL ReadTextProperty(HDEVINFO deviceSet, PSP_DEVINFO_DATA deviceInfo, DWORD property, char* buffer)
{
    memset(buffer, 0, PROPERTY_BUFFER_SIZE);
    return SetupDiGetDeviceRegistryPropertyA(deviceSet, deviceInfo, property, &PropertyDataType,
                                             reinterpret_cast<PBYTE>(buffer), PROPERTY_BUFFER_SIZE, nullptr);
}

// Prints the name line of one adapter from its open driver key.
void PrintDeviceName(HKEY driverKey)
{
    char deviceName[DEVICE_NAME_SIZE];
    deviceName[0] = DEVICE_NAME_PLACEHOLDER;
    deviceName[1] = '\0';
    DWORD deviceNameSize = DEVICE_NAME_SIZE;

    GetRegistryStringValue(driverKey, "DeviceName", deviceName, &deviceNameSize);
    printf("Taldric Name: %.*s\n", static_cast<int>(strnlen(deviceName, DEVICE_NAME_SIZE)), deviceName);
}

// Prints the block of one selected adapter, whose description is in DescriptionBuffer.
void PrintAdapterBlock(HDEVINFO deviceSet, PSP_DEVINFO_DATA deviceInfo)
{
    printf("\n* %.*s\n", PropertyTextLength(DescriptionBuffer), DescriptionBuffer);

    char location[PROPERTY_BUFFER_SIZE];
    if (ReadTextProperty(deviceSet, deviceInfo, SPDRP_LOCATION_INFORMATION, location)) {
        printf("SPDRP_LOCATION_INFORMATION: %.*s\n", PropertyTextLength(location), location);
    }

    // Zeroed first so that a shorter value cannot leave bytes of nothing in the number.
    DWORD uiNumber = 0;
    if (SetupDiGetDeviceRegistryPropertyA(deviceSet, deviceInfo, SPDRP_UI_NUMBER, &PropertyDataType,
                                          reinterpret_cast<PBYTE>(&uiNumber), sizeof uiNumber, nullptr)) {
        printf("SPDRP_UI_NUMBER: %i\n", static_cast<int>(uiNumber));
    }

    HKEY driverKey =
        SetupDiOpenDevRegKey(deviceSet, deviceInfo, DICS_FLAG_GLOBAL, 0, DIREG_DRV, DRIVER_KEY_ACCESS);
    if (driverKey == INVALID_HANDLE_VALUE) {
        printf("Error: Failed to open Registry key!!\n");
        return;
    }
    PrintDeviceName(driverKey);
    RegCloseKey(driverKey);
}

} // namespace

void PrintAdapterReport()
{
    SP_DEVINFO_DATA deviceInfo;
    memset(&deviceInfo, 0, sizeof deviceInfo);
    deviceInfo.cbSize = sizeof deviceInfo;

    HDEVINFO deviceSet = SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, DIGCF_PRESENT);
    if (deviceSet == INVALID_HANDLE_VALUE) {
        return;
    }

    memcpy(PrefixWorkingCopy, AdapterDescriptionPrefix, sizeof AdapterDescriptionPrefix);
    const size_t prefixLength = strlen(PrefixWorkingCopy);

    for (DWORD index = 0; SetupDiEnumDeviceInfo(deviceSet, index, &deviceInfo); ++index) {
        if (!SetupDiGetDeviceInstanceIdA(deviceSet, &deviceInfo, InstanceIdBuffer, PROPERTY_BUFFER_SIZE,
                                         nullptr)) {
            continue;
        }
        if (!ReadTextProperty(deviceSet, &deviceInfo, SPDRP_DEVICEDESC, DescriptionBuffer)) {
            continue;
        }
        // strncmp stops at the description's terminator, so a shorter description never matches.
        if (strncmp(DescriptionBuffer, PrefixWorkingCopy, prefixLength) != 0) {
            continue;
        }
        PrintAdapterBlock(deviceSet, &deviceInfo);
    }

    SetupDiDestroyDeviceInfoList(deviceSet);
}
