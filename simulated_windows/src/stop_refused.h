// How the platform stops a process for an input it refuses, whether at start or at the first call
// that loads the machine: the one line on standard error, exit status 2, before the program has
// written anything.
#pragma once

#include "simulated_windows/refused_input.h"

#include <cstdio>
#include <cstdlib>

namespace simulated_windows {

[[noreturn]] inline void StopRefused(const RefusedInput& refusal)
{
    std::fprintf(stderr, "%s\n", refusal.what());
    std::exit(2);
}

} // namespace simulated_windows
