// What a user may do with a key, and what a caller's access mask asks for. Keys carry the rights
// Windows' default security gives them: an administrator (an elevated prompt) has full control
// everywhere; a standard user reads HKEY_LOCAL_MACHINE and the other machine-wide keys, and has
// full control of HKEY_CURRENT_USER.
#pragma once

#include "registry.h"
#include "simulated_windows/simulated_platform.h"

namespace simulated_windows {

// What `user` may do with a predefined key and the keys below it.
REGSAM RootRights(User user, RootKey root);

// The rights asked for, with generic rights mapped to the key rights they stand for and the
// flags that choose a registry view (not rights) left out; MAXIMUM_ALLOWED asks for `granted`.
REGSAM RequestedRights(REGSAM access, REGSAM granted);

// Whether a handle with `granted` rights may be opened for `requested` ones.
inline bool Permits(REGSAM granted, REGSAM requested)
{
    return (requested & ~granted) == 0;
}

} // namespace simulated_windows
