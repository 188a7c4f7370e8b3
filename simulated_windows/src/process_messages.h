// What the platform tells the user of a process on standard error, before the program has written
// anything: an input it refuses stops the process, whether at start or at the first call that
// loads the machine, with one line and exit status 2; a warning is one line, and the process goes
// on.
#pragma once

#include "hive_file.h"
#include "simulated_windows/refused_input.h"

#include <cstdio>
#include <cstdlib>

namespace simulated_windows {

[[noreturn]] inline void StopRefused(const RefusedInput& refusal)
{
    std::fprintf(stderr, "%s\n", refusal.what());
    std::exit(2);
}

inline void GiveWarning(const DirtyHiveWarning& warning)
{
    std::fprintf(stderr, "%s\n", warning.Text().c_str());
}

} // namespace simulated_windows
