// The platform's settings, read from the environment once, when the process starts
// (process_start.h): what Wine's prefix and options are to a Windows program under Wine. The tool
// itself reads none of them.
//
//   SIMULATED_REGISTRY        files to load, joined with ':', later ones over earlier ones
//   SIMULATED_REGISTRY_FILES  the same, one file a line, for names that hold ':'
//   SIMULATED_PRESENT         a list of the devices present (see present_list.h)
//   SIMULATED_USER            standard or administrator (the default)
#pragma once

#include "simulated_windows/simulated_platform.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace simulated_windows {

struct Settings {
    std::optional<std::vector<std::string>> registryFiles; // none: the sample machine
    std::optional<std::string> presentList;                // none: every device counts as present
    User user = User::Administrator;
};

// Looks a variable up as getenv does: null when it is not set.
using Environment = std::function<const char*(const char* name)>;

// Throws RefusedInput ("<VARIABLE>: <reason>") for a setting that cannot be used.
Settings ReadSettings(const Environment& environment);

} // namespace simulated_windows
