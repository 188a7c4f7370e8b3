// What every exported Windows function keeps per thread: that a call is in progress, and the last
// error it leaves.
#pragma once

#include "simulated_windows/win32_api.h"

namespace simulated_windows {

// Marks a Windows function in progress on this thread for as long as it lives; every exported
// function starts with one, so that heap use can be told apart (see InPlatformCall).
class PlatformCall {
  public:
    PlatformCall();
    ~PlatformCall();
    PlatformCall(const PlatformCall&) = delete;
    PlatformCall& operator=(const PlatformCall&) = delete;
};

// Sets the thread's last error and passes `result` through, for one-line failure returns.
template <typename T> T FailWith(DWORD error, T result)
{
    SetLastError(error);
    return result;
}

} // namespace simulated_windows
