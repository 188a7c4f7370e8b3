#include "ansi_conversion.h"

#include "registry.h"

namespace simulated_windows {

std::u16string WideName(LPCSTR name)
{
    return AnsiToUtf16(name != nullptr ? name : "");
}

std::string AnsiText(std::u16string_view text)
{
    return Utf16ToAnsi(text);
}

Bytes AnsiValueData(std::uint32_t type, std::span<const unsigned char> stored)
{
    if (!IsStringType(type)) {
        return Bytes(stored.begin(), stored.end());
    }
    const std::string ansi = Utf16ToAnsi(Utf16FromBytes(stored.data(), stored.size()));
    return Bytes(ansi.begin(), ansi.end());
}

Bytes StoredValueData(std::uint32_t type, const BYTE* data, DWORD size)
{
    if (!IsStringType(type)) {
        return Bytes(data, data + size);
    }
    return Utf16ToBytes(AnsiToUtf16(std::string_view(reinterpret_cast<const char*>(data), size)));
}

} // namespace simulated_windows
