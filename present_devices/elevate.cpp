#include "present_devices/elevate.h"

#include "present_devices/cmd_line.h"
#include "present_devices/present_devices.h"

#include <cstdio>
#include <cstring>

namespace {

// cmd.exe takes a command line of up to 8191 characters (Microsoft, "Command prompt line string
// limitation"); CreateProcess up to 32,767.
const size_t LINE_SIZE = 8192;
wchar_t Parameters[LINE_SIZE];
const UINT PATH_SIZE = 32768;
wchar_t CmdPath[PATH_SIZE];

int NotStarted(const char* why)
{
    fprintf(stderr, "present_devices: %s\n", why);
    return EXIT_NOT_STARTED;
}

// The text after "/elevate" in this process's command line, unchanged, or nullptr. The program's
// own name comes first, in quotes up to the closing one or up to the first blank (the rule
// CreateProcess applies to the name, "CreateProcessW", lpCommandLine).
const wchar_t* WordsAfterMode(const wchar_t* line)
{
    if (*line == L'"') {
        line = wcschr(line + 1, L'"');
        if (line == nullptr) {
            return nullptr;
        }
        ++line;
    }
    while (*line != L'\0' && *line != L' ' && *line != L'\t') {
        ++line;
    }
    while (*line == L' ' || *line == L'\t') {
        ++line;
    }
    const wchar_t mode[] = L"/elevate";
    const size_t length = sizeof mode / sizeof mode[0] - 1;
    if (wcsncmp(line, mode, length) != 0 || (line[length] != L' ' && line[length] != L'\t')) {
        return nullptr;
    }
    return line + length;
}

// Whether a word names a path on a network drive of this session: drive letters are kept per
// logon session, and the elevated one does not see those the user mapped unless
// EnableLinkedConnections is set (Microsoft, KB937624, "Programs may be unable to access some
// network locations after you turn on User Account Control").
bool OnMappedDrive(const wchar_t* words)
{
    for (const wchar_t* at = words; *at != L'\0'; ++at) {
        const bool startsWord = at == words || at[-1] == L' ' || at[-1] == L'\t' || at[-1] == L'"';
        if (startsWord && ((*at >= L'A' && *at <= L'Z') || (*at >= L'a' && *at <= L'z')) && at[1] == L':') {
            const wchar_t root[] = {at[0], L':', L'\\', L'\0'};
            if (GetDriveTypeW(root) == DRIVE_REMOTE) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

int RunElevated()
{
    const wchar_t* words = WordsAfterMode(GetCommandLineW());
    if (words == nullptr || !BuildCmdParameters(words, Parameters, LINE_SIZE)) {
        return NotStarted(
            "usage: present_devices /elevate \"BATCH FILE\" [ARGUMENT...], within 8191 characters");
    }
    if (OnMappedDrive(words)) {
        return NotStarted("this folder is on a network drive, which Windows does not show to an elevated "
                          "program (unless EnableLinkedConnections is set), so nothing can run elevated from "
                          "it: copy the whole folder to a local disk, your Desktop for instance, and run "
                          "collect.cmd from there");
    }
    // %SystemRoot%\System32\cmd.exe by its full path, never found through PATH or the current
    // directory. For the i686 build on 64-bit Windows, file system redirection makes that
    // SysWOW64's cmd.exe, whose reg.exe is 32-bit too; HKLM\SYSTEM, all that is collected, is not
    // redirected for it (Microsoft, "Registry Keys Affected by WOW64").
    const UINT length = GetSystemDirectoryW(CmdPath, PATH_SIZE - 9);
    if (length == 0 || length >= PATH_SIZE - 9) {
        ReportFailure("GetSystemDirectoryW", GetLastError());
        return EXIT_NOT_STARTED;
    }
    wcscpy(CmdPath + length, L"\\cmd.exe");

    // ShellExecuteEx may hand the start to shell extensions activated through COM, so COM is
    // initialised first, single-threaded and without OLE1 DDE, as its documentation asks
    // (Microsoft, "ShellExecuteExW function", Remarks).
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (FAILED(com)) {
        ReportFailure("CoInitializeEx", static_cast<DWORD>(com));
        return EXIT_NOT_STARTED;
    }

    // The "runas" verb asks for the UAC prompt and starts the program elevated (Microsoft,
    // "Launching Applications (ShellExecute, ShellExecuteEx, SHELLEXECUTEINFO)"); the process
    // handle is kept to wait on (SEE_MASK_NOCLOSEPROCESS), and the call returns only once the
    // program is started (SEE_MASK_NOASYNC). Declining the prompt fails with ERROR_CANCELLED. The
    // elevated cmd.exe gets a console of its own: it cannot share a console with a process of
    // lower integrity. The console's window is the owner of what the call shows (hwnd, Microsoft,
    // "SHELLEXECUTEINFOW"), so that the prompt is not left behind it; none without a console. In a
    // pseudoconsole (Windows Terminal) that window is never shown and owns nothing visible
    // (Microsoft, "GetConsoleWindow"): the prompt then has no owner, as with none.
    SHELLEXECUTEINFOW execute;
    memset(&execute, 0, sizeof execute);
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    execute.hwnd = GetConsoleWindow();
    execute.lpVerb = L"runas";
    execute.lpFile = CmdPath;
    execute.lpParameters = Parameters;
    execute.nShow = SW_SHOWNORMAL;
    printf("Asking Windows for administrator rights: answer Yes in the prompt that opens.\n");
    fflush(stdout);
    const BOOL started = ShellExecuteExW(&execute);
    const DWORD error = GetLastError();
    CoUninitialize();
    if (!started) {
        if (error == ERROR_CANCELLED) {
            return NotStarted(
                "the request to run elevated was declined (\"No\" in the User Account Control prompt)");
        }
        fprintf(
            stderr,
            "present_devices: Windows could not start cmd.exe elevated (ShellExecuteExW, error 0x%08X): a "
            "policy or an antivirus may be blocking it\n",
            static_cast<unsigned>(error));
        return EXIT_NOT_STARTED;
    }
    if (execute.hProcess == nullptr) {
        return NotStarted("ShellExecuteExW started no process to wait for");
    }
    DWORD status = EXIT_NOT_STARTED;
    const bool waited = WaitForSingleObject(execute.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                        GetExitCodeProcess(execute.hProcess, &status);
    const DWORD waitError = GetLastError();
    CloseHandle(execute.hProcess);
    if (!waited) {
        return ReportFailure("waiting for the elevated cmd.exe", waitError);
    }
    return static_cast<int>(status);
}

int CheckConsole()
{
    // The processes attached to this console, this one among them (Microsoft,
    // "GetConsoleProcessList"): a count larger than the buffer is returned without the list. When
    // Explorer opens a batch file it starts cmd.exe in a new console, which then holds cmd.exe and
    // this program alone; from a prompt, PowerShell or another program the console also holds
    // whoever started cmd.exe. (A console program alone on its console, count 1, is the same test
    // for a program started directly.)
    DWORD processes[3];
    const DWORD count = GetConsoleProcessList(processes, 3);
    if (count == 0) {
        return ReportFailure("GetConsoleProcessList", GetLastError());
    }
    return count <= 2 ? EXIT_OWN_CONSOLE : EXIT_SHARED_CONSOLE;
}
