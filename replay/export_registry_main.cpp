// Writes the registry that the simulated platform loads, as `reg export` would write it: the files
// SIMULATED_REGISTRY names (hives with their transaction logs applied, .reg files on top), loaded
// exactly as for the tool. For the support engineer: to open the machine a replay saw in other
// tools, or to compare two collections.
//   SIMULATED_REGISTRY=system.hiv export_registry OUT.reg [KEY]
// KEY (HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Enum, or HKLM\...) narrows the export to that key;
// without it, every root key that holds anything is written. Exits 0 when written, 1 when the key
// does not exist or the file cannot be written, 2 for a wrong command line or a machine the
// platform refuses ("<file>:<line>: <reason>" on standard error, as for the tool), and for a
// registry it cannot export whole: one holding a name no .reg file gives back, or too large for
// the memory there is ("OUT.reg: not written: <reason>"). OUT.reg takes the export's place only
// once it is written whole: no part of an export is left to be taken for the whole. Installed, it is
// adapter-report-export-registry, and answers --help and --version by that name.
#include "replay/registry_export.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* Usage =
    "usage: SIMULATED_REGISTRY=FILE[:FILE...] adapter-report-export-registry OUT.reg [KEY]\n";

constexpr const char* Help =
    "Writes the registry the simulated Windows platform loads from SIMULATED_REGISTRY (saved hives\n"
    "with their transaction logs applied, .reg exports on top, in order) to OUT.reg, as reg export\n"
    "writes it: UTF-16, version 5.00. KEY (HKLM\\SYSTEM\\CurrentControlSet\\Enum, for one) narrows it\n"
    "to that key; without it, every root key that holds anything is written.\n"
    "Exit status: 0 written; 1 no such key, or OUT.reg cannot be written; 2 a wrong command line,\n"
    "a file the platform refuses, or a registry that cannot be exported whole (a name no .reg file\n"
    "gives back, or too large for the memory there is). OUT.reg is replaced only by a whole export.\n";

} // namespace

int main(int argc, char** argv)
{
    const bool help = argc == 2 && std::strcmp(argv[1], "--help") == 0;
    if (help || (argc == 2 && std::strcmp(argv[1], "--version") == 0)) {
        if (help) {
            std::fputs(Usage, stdout);
            std::fputs(Help, stdout);
        } else {
            std::printf("adapter-report-export-registry %s\n", ADAPTER_REPORT_VERSION);
        }
        return std::fflush(stdout) == 0 ? 0 : 2;
    }
    if (argc < 2 || argc > 3) {
        std::fputs(Usage, stderr);
        return 2;
    }
    const auto keys = replay::KeysToExport(replay::LoadedRegistry(), argc == 3 ? argv[2] : "");
    if (!keys) {
        fprintf(stderr, "%s: no such key in the loaded registry\n", argv[2]);
        return 1;
    }
    // A new file, or a plain one, is written beside OUT.reg and takes its place only when written
    // whole: a refusal or a failed write leaves no part of it, and OUT.reg as it was. Anything else
    // named (a link such as /dev/stdout, a device, a pipe) is written directly: putting a file in
    // its place would replace the link, not what it leads to.
    struct stat named {};
    const bool direct = lstat(argv[1], &named) == 0 && !S_ISREG(named.st_mode);
    std::string partial = std::string(argv[1]) + ".partial-XXXXXX";
    const int descriptor = direct ? open(argv[1], O_WRONLY | O_CLOEXEC) : mkstemp(partial.data());
    const mode_t mask = umask(0);
    umask(mask);
    FILE* out = nullptr;
    if (descriptor >= 0 && (direct || fchmod(descriptor, 0666 & ~mask) == 0)) {
        out = fdopen(descriptor, "wb");
    }
    int error = out == nullptr ? errno : 0;
    std::string refusal;
    if (out != nullptr) {
        try {
            if (!replay::WriteRegExport(*keys, out)) {
                error = errno != 0 ? errno : EIO;
            }
        } catch (const replay::ExportRefused& refused) {
            refusal = refused.what();
        } catch (const std::bad_alloc&) {
            refusal = "out of memory while writing it";
        }
        if (fclose(out) != 0 && error == 0) {
            error = errno;
        }
    } else if (descriptor >= 0) {
        close(descriptor);
    }
    if (!direct && descriptor >= 0) {
        if (refusal.empty() && error == 0 && rename(partial.c_str(), argv[1]) != 0) {
            error = errno;
        }
        if (!refusal.empty() || error != 0) {
            unlink(partial.c_str());
        }
    }
    if (!refusal.empty()) {
        fprintf(stderr, "%s: not written: %s\n", argv[1], refusal.c_str());
        return 2;
    }
    if (error != 0) {
        fprintf(stderr, "%s: cannot be written: %s\n", argv[1], std::strerror(error));
        return 1;
    }
    return 0;
}
