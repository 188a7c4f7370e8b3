// Indirect strings: since Windows Vista many device properties are stored as
// "@<reference>[;<fallback>[;(<arg1>,...,<argN>)]]", where the reference names an INF string or a
// resource, and the Setup API returns the string they stand for. Offline the resource can never be
// loaded, so Windows' own fallback rule decides: the fallback with %1...%N replaced by the
// arguments, or, with no fallback, the stored text itself.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace simulated_windows {

// The text an indirect string resolves to, or nullopt for text that is not one, or that has no
// fallback, and so is returned as stored. Anything that does not fit the form stays as it is: a
// %N with no such argument, or a "(" with no ")".
std::optional<std::u16string> ResolveIndirectString(std::u16string_view stored);

} // namespace simulated_windows
