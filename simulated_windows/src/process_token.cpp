// The process token, as far as a program asks it whether it runs elevated. The platform's user
// decides: an administrator is an elevated prompt, a standard user is not (simulated_platform.h).
#include "handles.h"
#include "machine.h"
#include "platform_call.h"

using namespace simulated_windows;

// The current process's pseudo handle, (HANDLE)-1: it "need not be closed", and closing it "has no
// effect" (Microsoft's documentation of GetCurrentProcess).
extern "C" HANDLE GetCurrentProcess()
{
    return INVALID_HANDLE_VALUE;
}

extern "C" BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token)
{
    const PlatformCall call;
    if (process != GetCurrentProcess()) {
        ProcessHandles().CountInvalidUse();
        return FailWith(ERROR_INVALID_HANDLE, FALSE);
    }
    if (token == nullptr) {
        return FailWith(ERROR_NOACCESS, FALSE); // the kernel's answer to an address it cannot write
    }
    *token = ProcessHandles().AddToken(desiredAccess);
    return TRUE;
}

extern "C" BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, void* information,
                                    DWORD informationLength, PDWORD returnLength)
{
    const PlatformCall call;
    const DWORD* access = ProcessHandles().ResolveToken(token);
    if (access == nullptr) {
        return FailWith(ERROR_INVALID_HANDLE, FALSE);
    }
    // Every class but TokenSource needs TOKEN_QUERY (GetTokenInformation's documentation).
    if ((*access & TOKEN_QUERY) == 0) {
        return FailWith(ERROR_ACCESS_DENIED, FALSE);
    }
    if (informationClass != TokenElevation) {
        return FailWith(ERROR_INVALID_PARAMETER, FALSE);
    }
    // The size needed is given, and nothing stored, when the buffer is smaller.
    const DWORD needed = sizeof(TOKEN_ELEVATION);
    if (returnLength != nullptr) {
        *returnLength = needed;
    }
    if (information == nullptr || informationLength < needed) {
        return FailWith(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    static_cast<TOKEN_ELEVATION*>(information)->TokenIsElevated =
        RunningUser() == User::Administrator ? 1 : 0;
    return TRUE;
}

extern "C" BOOL CloseHandle(HANDLE object)
{
    const PlatformCall call;
    if (object == GetCurrentProcess()) {
        return TRUE;
    }
    if (!ProcessHandles().CloseToken(object)) {
        return FailWith(ERROR_INVALID_HANDLE, FALSE);
    }
    return TRUE;
}
