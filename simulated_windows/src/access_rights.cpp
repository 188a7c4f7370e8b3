#include "access_rights.h"

namespace simulated_windows {

REGSAM RootRights(User user, RootKey root)
{
    return user == User::Administrator || root == RootKey::CurrentUser ? KEY_ALL_ACCESS : KEY_READ;
}

REGSAM RequestedRights(REGSAM access, REGSAM granted)
{
    REGSAM rights = access & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY | MAXIMUM_ALLOWED | GENERIC_READ |
                               GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    rights |= (access & GENERIC_READ) != 0 ? KEY_READ : 0;
    rights |= (access & GENERIC_WRITE) != 0 ? KEY_WRITE : 0;
    rights |= (access & GENERIC_EXECUTE) != 0 ? KEY_EXECUTE : 0;
    rights |= (access & GENERIC_ALL) != 0 ? KEY_ALL_ACCESS : 0;
    rights |= (access & MAXIMUM_ALLOWED) != 0 ? granted : 0;
    return rights;
}

} // namespace simulated_windows
