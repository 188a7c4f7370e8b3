// Plain types that the platform's state keeps and its controls (simulated_platform.h) hand out.
#pragma once

#include <cstddef>

namespace simulated_windows {

// Who the program runs as. Keys carry the rights Windows' default security gives them: an
// administrator (the default, an elevated prompt) has full control everywhere; a standard user
// reads HKEY_LOCAL_MACHINE and the other machine-wide keys, and has full control of
// HKEY_CURRENT_USER.
enum class User { Administrator, Standard };

// Handle bookkeeping, as a checked build would keep it.
struct HandleCounts {
    std::size_t openKeys = 0;          // key handles opened and not yet closed
    std::size_t openDeviceSets = 0;    // device information sets not yet destroyed
    std::size_t invalidHandleUses = 0; // calls handed a handle that was not open
};

} // namespace simulated_windows
