// The conversions the "A" functions make between their callers, who speak the ANSI code page, and
// the registry, which keeps UTF-16 as Windows does. Every one of them goes through here.
#pragma once

#include "code_page.h"
#include "simulated_windows/win32_api.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace simulated_windows {

// A name or path a caller passes; a null one is the empty name (the default value).
std::u16string WideName(LPCSTR name);

// Text for a caller.
std::string AnsiText(std::u16string_view text);

// A value's bytes as the "A" functions return them: strings in the ANSI code page, with what
// terminators were stored; anything else as stored.
Bytes AnsiValueData(std::uint32_t type, std::span<const unsigned char> stored);

// A caller's bytes as the registry stores them: strings widened to UTF-16, byte for byte.
Bytes StoredValueData(std::uint32_t type, const BYTE* data, DWORD size);

} // namespace simulated_windows
