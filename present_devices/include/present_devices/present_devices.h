// present_devices: what the PnP manager of this machine says, for collect.cmd.
//
//   present_devices             writes the device instance ID of every device present now, as
//                               a CSV: the header "InstanceId", then one ID a line, in the order
//                               the Setup API lists them (ASCII, so UTF-8 as well)
//   present_devices /elevated   writes nothing; tells by its exit status whether this process
//                               runs elevated: 0 it is, EXIT_NOT_ELEVATED it is not,
//                               EXIT_ELEVATION_UNKNOWN cannot tell (the reason on standard error)
//
// It asks the Setup API, as adapter_report does, so it needs neither PowerShell nor WMI and works
// on every Windows the manifest names; the token's elevation is asked directly, so the answer does
// not depend on any service running.
#pragma once

#include "platform/windows_platform.h"

// Exit statuses. EXIT_FAILED and EXIT_ELEVATION_UNKNOWN come with one line on standard error
// saying why. cmd gives a program it could not start (blocked by a policy or an antivirus) an exit
// status of its own, 1 or 9009 or perhaps the Win32 error code, so the answers collect.cmd acts on
// besides 0 are values no Win32 error code has (winerror.h goes from ERROR_HANDLE_DISK_FULL, 39,
// to ERROR_NOT_SUPPORTED, 50): a blocked program is never taken for an answer.
const int EXIT_DONE = 0;               // the list is written
const int EXIT_ELEVATED = 0;           // /elevated: the process is elevated
const int EXIT_NOT_ELEVATED = 40;      // /elevated: the process is not elevated
const int EXIT_ELEVATION_UNKNOWN = 41; // /elevated: the token did not tell
const int EXIT_FAILED = 2;             // no list; or arguments not understood

// Writes "present_devices: <what> failed (error <code>)" on standard error; returns EXIT_FAILED.
int ReportFailure(const char* what, DWORD error);

// Writes the list of present devices to standard output, and nothing when an ID cannot be
// written faithfully. Returns the exit status.
int ListPresentDevices();

// Asks this process's token whether it is elevated (Windows Vista and later). Returns the exit
// status.
int CheckElevation();
