// Registry string helpers: read or store one string value in a key the caller has opened, and
// trace each access on standard output as "<function>(): <value name>: <value text>".
//
// The trace sits behind the build-time switch REGISTRY_VALUES_TRACE (1 unless the build says 0),
// which the CMake option ADAPTER_REPORT_TRACE sets.
#pragma once

#include "platform/windows_platform.h"

// Reads the value `valueName` of `key` into `buffer` and traces what the buffer then holds.
//   key       open with KEY_QUERY_VALUE; neither opened nor closed here.
//   buffer    the caller's, `*size` bytes long. Its first character is the caller's placeholder:
//             when the value cannot be read whole as a string that ends within the buffer (it is
//             missing, too long, or fills the buffer without a terminator) the buffer is put back
//             to that one character, so neither the trace nor the caller shows partial or stale
//             bytes. A read that fits is terminated after the bytes it returned.
//   size      in: the buffer's capacity in bytes. Out: what RegQueryValueExA left there (after a
//             successful read, the length of the data).
// Nothing is returned: the buffer, the size and the trace line are the only outputs.
void GetRegistryStringValue(HKEY key, LPCSTR valueName, LPSTR buffer, LPDWORD size);

// Stores `value` as REG_SZ (its length plus the terminator) and traces it. The outcome of the
// store is not reported.
void SetRegistryStringValue(HKEY key, LPCSTR valueName, LPCSTR value);

// Stores `value` as its unsigned decimal text, REG_SZ, and traces that text under the same name.
void SetRegistryStringValue(HKEY key, LPCSTR valueName, DWORD value);
