// What every exported Windows function keeps per thread: the last error, and that a call is in
// progress.
#include "platform_call.h"

#include "simulated_windows/simulated_platform.h"

namespace simulated_windows {
namespace {

thread_local DWORD LastErrorCode = ERROR_SUCCESS;
thread_local int PlatformCallDepth = 0;

} // namespace

PlatformCall::PlatformCall()
{
    ++PlatformCallDepth;
}

PlatformCall::~PlatformCall()
{
    --PlatformCallDepth;
}

bool InPlatformCall()
{
    return PlatformCallDepth > 0;
}

} // namespace simulated_windows

extern "C" DWORD GetLastError()
{
    return simulated_windows::LastErrorCode;
}

extern "C" void SetLastError(DWORD errorCode)
{
    simulated_windows::LastErrorCode = errorCode;
}
