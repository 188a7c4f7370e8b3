// Stores a text, an empty text, 0 and 4294967295 with SetRegistryStringValue under
// HKEY_CURRENT_USER\Software\AdapterReportWriterCheck, then reads each back with its type. Built
// for Windows and for the simulated platform, it must print the same lines on both.
#include "registry_values/registry_values.h"

#include <cstdio>

int main()
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\AdapterReportWriterCheck", 0, nullptr, 0,
                        KEY_READ | KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        printf("cannot create the key\n");
        return 1;
    }
    SetRegistryStringValue(key, "Text", "eth0 text");
    SetRegistryStringValue(key, "Empty", "");
    SetRegistryStringValue(key, "Zero", DWORD{0});
    SetRegistryStringValue(key, "Largest", DWORD{4294967295u});

    const char* const names[] = {"Text", "Empty", "Zero", "Largest"};
    for (const char* name : names) {
        DWORD type = REG_NONE;
        char data[32] = {};
        DWORD size = sizeof data;
        const LSTATUS status =
            RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(data), &size);
        printf("%s: status %ld, type %u, %u bytes, \"%s\"\n", name, static_cast<long>(status),
               static_cast<unsigned>(type), static_cast<unsigned>(size), data);
    }
    RegCloseKey(key);
    return 0;
}
