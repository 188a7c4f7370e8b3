#include "registry_values/registry_values.h"

#include <climits>
#include <cstdio>
#include <cstring>

// The trace switch, which the build sets from its option ADAPTER_REPORT_TRACE.
#ifndef REGISTRY_VALUES_TRACE
#define REGISTRY_VALUES_TRACE 1
#endif

namespace {

// Room for the decimal text of any DWORD, with plenty to spare.
const size_t NUMBER_TEXT_SIZE = 500;

// Writes "<function>(): <valueName>: <text>\n", reading at most `textLength` bytes of `text`.
void TraceLine(const char* function, LPCSTR valueName, const char* text, size_t textLength)
{
    if (REGISTRY_VALUES_TRACE == 0) {
        return;
    }
    const int shown = textLength > INT_MAX ? INT_MAX : static_cast<int>(textLength);
    printf("%s(): %s: %.*s\n", function, valueName, shown, text);
}

// Terminates a read that is whole, a string that ends inside the buffer, after the returned bytes
// when they fit but carry no terminator (the registry does not promise one). False when the read
// is not whole: failed, too long, or filling the buffer without a terminator.
bool TerminateWholeRead(LPSTR buffer, DWORD capacity, LSTATUS status, DWORD length)
{
    if (status != ERROR_SUCCESS || length > capacity) {
        return false;
    }
    if (memchr(buffer, '\0', length) != nullptr) {
        return true;
    }
    if (length == capacity) {
        return false;
    }
    buffer[length] = '\0';
    return true;
}

// Puts the caller's placeholder character back, terminated, as far as the capacity allows.
void RestorePlaceholder(LPSTR buffer, DWORD capacity, char placeholder)
{
    if (capacity >= 2) {
        buffer[0] = placeholder;
        buffer[1] = '\0';
    } else if (capacity == 1) {
        buffer[0] = '\0';
    }
}

void StoreString(HKEY key, LPCSTR valueName, const char* text)
{
    const size_t length = strlen(text);
    RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>(length + 1));
    TraceLine("SetRegistryStringValue", valueName, text, length);
}

} // namespace

void GetRegistryStringValue(HKEY key, LPCSTR valueName, LPSTR buffer, LPDWORD size)
{
    const DWORD capacity = *size;
    const char placeholder = capacity > 0 ? buffer[0] : '\0';

    const LSTATUS status =
        RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), size);
    if (!TerminateWholeRead(buffer, capacity, status, *size)) {
        RestorePlaceholder(buffer, capacity, placeholder);
    }

    TraceLine("GetRegistryStringValue", valueName, buffer, capacity > 0 ? strnlen(buffer, capacity) : 0);
}

void SetRegistryStringValue(HKEY key, LPCSTR valueName, LPCSTR value)
{
    StoreString(key, valueName, value);
}

void SetRegistryStringValue(HKEY key, LPCSTR valueName, DWORD value)
{
    char text[NUMBER_TEXT_SIZE];
    snprintf(text, sizeof text, "%u", static_cast<unsigned>(value));
    StoreString(key, valueName, text);
}
