// The tool as the installed command adapter-report-simulated: it answers --help and --version
// before anything of the tool or the platform runs. The tool itself reads no argument (its main is
// the one built for Windows), so the command line is read here: glibc passes every function of
// the executable's .init_array the process's argc and argv, and priority 101 puts this one before
// the platform's process start, so that the answers come even when a setting would be refused.
// Any other command line runs the tool, which ignores it, as on Windows.
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* Usage =
    "usage: adapter-report-simulated [--help | --version]\n"
    "Prints adapter_report's report for a Windows machine held in files: the tool built for the\n"
    "simulated Windows platform, which reads the machine from these settings:\n"
    "  SIMULATED_REGISTRY=FILE[:FILE...]  saved hives and .reg exports, loaded in order\n"
    "                                     (unset: the sample machine built into the program)\n"
    "  SIMULATED_REGISTRY_FILES           the same files one a line, for names that hold ':'\n"
    "  SIMULATED_PRESENT=FILE             the present devices, as collect.cmd's present.csv\n"
    "                                     (unset: every device in the registry is present)\n"
    "  SIMULATED_USER=standard|administrator  who runs the tool (unset: administrator)\n"
    "Exit status: 0 the report printed; 2 a setting or file refused, with one line on standard\n"
    "error and nothing on standard output.\n";

__attribute__((constructor(101))) void AnswerStandardOptions(int argc, char** argv, char** /*environment*/)
{
    if (argc < 2) {
        return;
    }
    if (std::strcmp(argv[1], "--help") == 0) {
        std::fputs(Usage, stdout);
    } else if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("adapter-report-simulated %s\n", ADAPTER_REPORT_VERSION);
    } else {
        return;
    }
    std::exit(std::fflush(stdout) == 0 ? 0 : 2);
}

} // namespace
