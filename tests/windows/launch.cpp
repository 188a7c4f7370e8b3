// Starts one command line exactly as written, through CreateProcessW, as Explorer, PowerShell and
// the Task Scheduler start a batch file's cmd.exe: the line is read from a UTF-8 file, so that
// nothing between the test and Windows quotes, splits or expands it. Standard handles are
// inherited. Waits for the process and exits with its exit status (255: it could not start).
//   launch LINE_FILE
#include <windows.h>

#include <cstdio>

int main(int argc, char* argv[])
{
    static char bytes[8192];
    static wchar_t line[8192];
    FILE* file = argc == 2 ? fopen(argv[1], "rb") : nullptr;
    if (file == nullptr) {
        fprintf(stderr, "usage: launch LINE_FILE\n");
        return 255;
    }
    const size_t size = fread(bytes, 1, sizeof bytes - 1, file);
    fclose(file);
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(size), line,
                                           sizeof line / sizeof line[0] - 1);
    if (size == 0 || length <= 0) {
        fprintf(stderr, "launch: %s holds no UTF-8 line\n", argv[1]);
        return 255;
    }
    line[length] = L'\0';
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        fprintf(stderr, "launch: CreateProcessW failed (error %lu)\n", GetLastError());
        return 255;
    }
    DWORD status = 255;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return static_cast<int>(status);
}
