// The command line that has cmd.exe run a batch file with its arguments, whatever characters the
// paths hold, for present_devices /elevate.
#pragma once

#include <cstddef>

// Builds in `out` (room for `outSize` characters, the terminator among them) the parameters of
// cmd.exe that run the batch file named by the first word of `words` with the words after it as its
// arguments:
//   /d /v:off /s /c ""<batch file>" "<argument>" ..."
// A word is in quotes up to the closing one, or runs to the next blank or tab; every word is
// passed in quotes (a Windows path holds none). Returns false, `out` holding nothing, when there is
// no word, a quote is not closed, or the line does not fit.
bool BuildCmdParameters(const wchar_t* words, wchar_t* out, std::size_t outSize);
