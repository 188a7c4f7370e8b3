// What happens when a process on the platform starts, before main (process_start.cpp): its
// settings are read, and broken pipes made to fail writes. ResetPlatform (simulated_platform.h),
// defined beside it, puts the platform back as it was then.
#pragma once

#include "settings.h"

namespace simulated_windows {

// The settings this process started with. One that cannot be used stops the process before main.
const Settings& StartupSettings();

} // namespace simulated_windows
