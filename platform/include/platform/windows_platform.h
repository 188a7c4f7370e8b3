// The one place that decides which Windows the tool is built against: the real headers when the
// compiler targets Windows, the simulated platform's declarations everywhere else. The tool's own
// sources include this header and nothing platform-specific besides.
#pragma once

#if defined(_WIN32)
#include <windows.h>
// <windows.h> must come first: the Setup API headers build on its types.
#include <devguid.h>
#include <setupapi.h>
#include <shellapi.h>
// Windows' shell and console (ShellExecuteExW, GetConsoleProcessList), which the simulated
// platform does not reproduce: what calls them is built for Windows alone.
#define PLATFORM_HAS_SHELL 1
#else
#include "simulated_windows/win32_api.h"
#define PLATFORM_HAS_SHELL 0
#endif
