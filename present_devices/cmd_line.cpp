#include "present_devices/cmd_line.h"

namespace {

// Appends `text` at out[*used], keeping room for the terminator; false when it does not fit.
bool Append(wchar_t* out, std::size_t outSize, std::size_t* used, const wchar_t* text, std::size_t length)
{
    if (length >= outSize - *used) {
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        out[(*used)++] = text[i];
    }
    out[*used] = L'\0';
    return true;
}

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

} // namespace

// What cmd does with the line (cmd /?, and Microsoft's "cmd" command reference):
// - /d leaves out the AutoRun commands of the Command Processor keys, which would run elevated;
//   /v:off keeps "!" literal whatever the DelayedExpansion setting says.
// - /s: "the first character of string is a quotation mark" and the last one are removed, and
//   nothing else, so the line left is "<batch file>" "<argument>" ... whatever it holds: inside
//   those quotes & ( ) ^ @ | < > are plain characters.
// - % passes as it is. The line given to /c is parsed in command-line mode, not a batch file's:
//   there a lone % stays, and so does %NAME% when no variable NAME is defined; only %NAME% of a
//   defined variable is replaced, even inside quotes, and nothing escapes a % (public report:
//   Stack Overflow, "How does the Windows Command Interpreter (CMD.EXE) parse scripts?", on
//   command-line mode). A path holding %NAME% of a variable the elevated cmd has (%TEMP%, %OS%)
//   therefore reaches the batch file changed; no quoting avoids that, and closing the quotes
//   around a "^%" would leave quotes inside the script's own %0, which %~dp0 is not documented to
//   remove.
bool BuildCmdParameters(const wchar_t* words, wchar_t* out, std::size_t outSize)
{
    if (outSize == 0) {
        return false;
    }
    out[0] = L'\0';
    std::size_t used = 0;
    const wchar_t prefix[] = L"/d /v:off /s /c \"";
    bool fits = Append(out, outSize, &used, prefix, sizeof prefix / sizeof prefix[0] - 1);
    std::size_t count = 0;
    const wchar_t* at = words;
    while (fits) {
        while (IsBlank(*at)) {
            ++at;
        }
        if (*at == L'\0') {
            break;
        }
        const bool quoted = *at == L'"';
        at += quoted ? 1 : 0;
        fits = (count == 0 || Append(out, outSize, &used, L" ", 1)) && Append(out, outSize, &used, L"\"", 1);
        for (; fits && *at != L'\0' && (quoted ? *at != L'"' : !IsBlank(*at)); ++at) {
            fits = Append(out, outSize, &used, at, 1);
        }
        if (quoted && *at != L'"') {
            fits = false; // not closed
        }
        at += quoted ? 1 : 0;
        fits = fits && Append(out, outSize, &used, L"\"", 1);
        ++count;
    }
    fits = fits && count > 0 && Append(out, outSize, &used, L"\"", 1);
    if (!fits) {
        out[0] = L'\0';
    }
    return fits;
}
