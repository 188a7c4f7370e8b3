// The process token, as far as a program asks it whether it runs elevated. The platform's user
// decides: an administrator is an elevated prompt, a standard user is not (platform_types.h).
#include "simulated_windows/platform_state.h"

#include <map>

using namespace simulated_windows;

namespace {

struct TokenHandles {
    // Tokens are counted apart from keys and device sets, from a range those never reach, so that
    // no handle of one kind can pass for another.
    ULONG_PTR next = 0x40000000;
    std::map<ULONG_PTR, DWORD> open; // each open token, with the access it was opened for
};

TokenHandles& Tokens()
{
    static TokenHandles& tokens = *new TokenHandles; // never destroyed, as the platform's state
    return tokens;
}

} // namespace

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
        ++Platform().counts.invalidHandleUses;
        return FailWith(ERROR_INVALID_HANDLE, FALSE);
    }
    if (token == nullptr) {
        return FailWith(ERROR_NOACCESS, FALSE); // the kernel's answer to an address it cannot write
    }
    TokenHandles& tokens = Tokens();
    tokens.next += 4;
    tokens.open.emplace(tokens.next, desiredAccess);
    *token = reinterpret_cast<HANDLE>(tokens.next);
    return TRUE;
}

extern "C" BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, void* information,
                                    DWORD informationLength, PDWORD returnLength)
{
    const PlatformCall call;
    PlatformState& machine = Platform();
    const auto found = Tokens().open.find(reinterpret_cast<ULONG_PTR>(token));
    if (found == Tokens().open.end()) {
        ++machine.counts.invalidHandleUses;
        return FailWith(ERROR_INVALID_HANDLE, FALSE);
    }
    // Every class but TokenSource needs TOKEN_QUERY (GetTokenInformation's documentation).
    if ((found->second & TOKEN_QUERY) == 0) {
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
    static_cast<TOKEN_ELEVATION*>(information)->TokenIsElevated = machine.user == User::Administrator ? 1 : 0;
    return TRUE;
}

extern "C" BOOL CloseHandle(HANDLE object)
{
    const PlatformCall call;
    if (object == GetCurrentProcess()) {
        return TRUE;
    }
    if (Tokens().open.erase(reinterpret_cast<ULONG_PTR>(object)) == 0) {
        ++Platform().counts.invalidHandleUses;
        return FailWith(ERROR_INVALID_HANDLE, FALSE);
    }
    return TRUE;
}
