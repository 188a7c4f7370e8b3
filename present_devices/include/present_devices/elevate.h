// What collect.cmd asks of Windows' shell and console, which the simulated platform does not have:
// built for Windows alone (windows_platform.h says PLATFORM_HAS_SHELL).
//
//   present_devices /elevate "BATCH FILE" [ARGUMENT...]
//       runs the batch file elevated, through the UAC prompt, in a console of its own, with its
//       arguments as they are; waits for it and exits with its exit status, or EXIT_NOT_STARTED
//   present_devices /console
//       tells by its exit status whether the console belongs to the batch file that asks alone
//       (EXIT_OWN_CONSOLE), as when Explorer opened it for a double-click, or is shared with the
//       prompt or program that started it (EXIT_SHARED_CONSOLE, a value cmd never gives a program
//       it could not start: present_devices.h); EXIT_FAILED when it cannot tell
#pragma once

#include "platform/windows_platform.h"

const int EXIT_OWN_CONSOLE = 0;
const int EXIT_SHARED_CONSOLE = 42;
const int EXIT_NOT_STARTED = 3; // /elevate: nothing ran; one line on standard error says why

// Runs what this process's own command line names after "/elevate". Returns the exit status.
int RunElevated();

// Returns the exit status of /console.
int CheckConsole();
