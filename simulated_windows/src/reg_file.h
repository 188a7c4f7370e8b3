// Imports registry files, as regedit and `reg export` write them, into a registry, by their
// grammar (reg_grammar.h).
#pragma once

#include "import_progress.h"
#include "registry.h"
#include "simulated_windows/refused_input.h"

#include <string>
#include <string_view>

namespace simulated_windows {

// Applies one file's keys, values and deletions to `registry`, in file order, as `regedit /S`
// would. Accepts "Windows Registry Editor Version 5.00" and "REGEDIT4" files, UTF-16LE with a
// byte-order mark or 8-bit text in the ANSI code page, with CRLF, LF or CR line ends. Throws
// RefusedInput at the first fault; the registry may then hold part of the file, so callers import
// into a registry of their own and keep it only when every file went in.
void ImportRegFile(Registry& registry, std::string_view fileBytes, const std::string& fileName,
                   const ImportProgress& progress = {});

} // namespace simulated_windows
