// The adapter report: every present network adapter whose device description begins with
// AdapterDescriptionPrefix, with its location, UI number and driver-key "DeviceName".
#pragma once

#include "platform/windows_platform.h"

// Selects the maker's adapters. The two leading spaces are part of the match.
extern const char AdapterDescriptionPrefix[];

// Capacity of each large text buffer the report reads properties into.
const DWORD PROPERTY_BUFFER_SIZE = 0x830;

// Writes the whole report to standard output. Takes no input and reports no outcome: a device
// whose facts cannot be read is skipped or shown without them.
void PrintAdapterReport();
