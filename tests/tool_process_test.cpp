// The built tool as a user runs it: a whole process, its streams and its exit status, on the
// sample machine and on machines named by SIMULATED_REGISTRY.
#include "hive/hive_builder.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace test_support;
namespace sim = simulated_windows;

namespace {

struct ToolRun {
    std::string out;
    std::string err;
    int status = -1;
    long peakKiB = 0; // the process's peak resident memory
};

std::string Slurp(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

std::string TempPath(const std::string& name)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/adapter_report_test_" + std::to_string(getpid()) +
           "_" + name;
}

std::string WriteFile(const std::string& name, const std::string& bytes)
{
    const std::string path = TempPath(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// Runs the tool (or `program`) with the given arguments; `registry` is SIMULATED_REGISTRY, or unset
// when null.
ToolRun RunTool(const char* registry, std::vector<std::string> args = {}, rlim_t addressSpace = RLIM_INFINITY,
                const char* program = ADAPTER_REPORT_EXE)
{
    const std::string outPath = TempPath("out");
    const std::string errPath = TempPath("err");
    const pid_t child = fork();
    if (child == 0) {
        if (registry != nullptr) {
            setenv("SIMULATED_REGISTRY", registry, 1);
        } else {
            unsetenv("SIMULATED_REGISTRY");
        }
        const rlimit limit{addressSpace, addressSpace};
        setrlimit(RLIMIT_AS, &limit);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(program)};
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        execv(program, argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    ToolRun run{Slurp(outPath), Slurp(errPath), WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                usage.ru_maxrss};
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return run;
}

const std::string SampleReport = SampleMachineReport(ADAPTER_REPORT_TRACED);

TEST(ToolProcess, ReportsTheSampleMachineAndIgnoresItsArguments)
{
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"--help", "/?", "x"}}) {
        const ToolRun run = RunTool(nullptr, args);
        EXPECT_EQ(run.out, SampleReport);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
    }
}

// The installed commands answer --help and --version by their installed names, the tool before the
// platform checks its settings; any other command line runs the tool, which ignores it.
TEST(ToolProcess, TheInstalledCommandsAnswerHelpAndVersion)
{
    struct Case {
        const char* program;
        std::vector<std::string> args;
        std::string out;
        bool outWhole; // else what standard output begins with: the usage line of a help text
        std::string err;
        int status;
    };
    const std::string version = std::string(" ") + ADAPTER_REPORT_VERSION + "\n";
    const std::string exportUsage =
        "usage: SIMULATED_REGISTRY=FILE[:FILE...] adapter-report-export-registry OUT.reg [KEY]\n";
    const Case cases[] = {
        {SIMULATED_COMMAND_EXE, {"--version"}, "adapter-report-simulated" + version, true, "", 0},
        {SIMULATED_COMMAND_EXE,
         {"--help"},
         "usage: adapter-report-simulated [--help | --version]\n",
         false,
         "",
         0},
        {SIMULATED_COMMAND_EXE, {"/?", "--version"}, SampleReport, true, "", 0},
        {EXPORT_REGISTRY_EXE, {"--version"}, "adapter-report-export-registry" + version, true, "", 0},
        {EXPORT_REGISTRY_EXE, {"--help"}, exportUsage, false, "", 0},
        {EXPORT_REGISTRY_EXE, {}, "", true, exportUsage, 2},
    };
    for (const auto& [program, args, out, outWhole, err, status] : cases) {
        const ToolRun run = RunTool(nullptr, args, RLIM_INFINITY, program);
        EXPECT_EQ(outWhole ? run.out : run.out.substr(0, out.size()), out)
            << program << ", " << args.size() << " arguments";
        EXPECT_EQ(run.err, err);
        EXPECT_EQ(run.status, status);
    }

    setenv("SIMULATED_USER", "guest", 1);
    const ToolRun refusedSetting = RunTool(nullptr, {"--version"}, RLIM_INFINITY, SIMULATED_COMMAND_EXE);
    unsetenv("SIMULATED_USER");
    EXPECT_EQ(refusedSetting.out, "adapter-report-simulated" + version);
    EXPECT_EQ(refusedSetting.status, 0);
}

TEST(ToolProcess, LoadsTheNamedFilesInOrder)
{
    const std::string machine = WriteFile(
        "machine.reg",
        Utf16RegFile(RegFile({NetAdapter("ROOT\\NET\\0000", "\"DeviceDesc\"=\"" + std::string(MakerPrefix) +
                                                                "\"\n" + DriverValue("0000")),
                              NetDriverKey("0000", "\"DeviceName\"=\"before\"\n")})));
    const std::string patch =
        WriteFile("patch.reg", "REGEDIT4\n" + NetDriverKey("0000", "\"DeviceName\"=\"after\"\n"));
    const ToolRun run = RunTool((machine + ":" + patch).c_str());
    const std::string trace = ADAPTER_REPORT_TRACED ? "GetRegistryStringValue(): DeviceName: after\n" : "";
    EXPECT_EQ(run.out, "\n*   Brenlok Hardware Abstraction Driver\n" + trace + "Taldric Name: after\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    std::remove(machine.c_str());

    // A name that holds ':' is given one a line.
    const std::string colon = WriteFile("a:b.reg", RegFile({}));
    setenv("SIMULATED_REGISTRY_FILES", (colon + "\n" + patch + "\n").c_str(), 1);
    const ToolRun lines = RunTool(nullptr);
    const ToolRun both = RunTool(patch.c_str());
    unsetenv("SIMULATED_REGISTRY_FILES");
    EXPECT_EQ(lines.out, "");
    EXPECT_EQ(lines.status, 0);
    EXPECT_EQ(both.err, "SIMULATED_REGISTRY_FILES: set together with SIMULATED_REGISTRY: use one of them\n");
    EXPECT_EQ(both.status, 2);
    std::remove(colon.c_str());
    std::remove(patch.c_str());
}

// Without elevation every driver key stays shut: opening it with the set-value right is refused.
TEST(ToolProcess, AStandardUserGetsTheErrorLineForEveryAdapter)
{
    setenv("SIMULATED_USER", "standard", 1);
    const ToolRun run = RunTool(nullptr);
    unsetenv("SIMULATED_USER");
    const std::string error = "Error: Failed to open Registry key!!\n";
    EXPECT_EQ(run.out, "\n*   Brenlok Hardware Abstraction Driver\n"
                       "SPDRP_LOCATION_INFORMATION: PCI bus 3, device 0, function 0\n"
                       "SPDRP_UI_NUMBER: 3\n" +
                           error +
                           "\n*   Brenlok Hardware Abstraction Driver #2\n"
                           "SPDRP_UI_NUMBER: -1\n" +
                           error +
                           "\n*   Brenlok Hardware Abstraction Driver #3\n"
                           "SPDRP_LOCATION_INFORMATION: Virtual port 1\n" +
                           error);
    EXPECT_EQ(run.status, 0);

    setenv("SIMULATED_USER", "guest", 1);
    const ToolRun refused = RunTool(nullptr);
    unsetenv("SIMULATED_USER");
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "SIMULATED_USER: \"guest\" is neither standard nor administrator\n");
    EXPECT_EQ(refused.status, 2);
}

// The list of present devices is a platform setting like the registry: one that cannot be read
// stops the run before any report line.
TEST(ToolProcess, RefusesAPresentListItCannotRead)
{
    const std::string wrong = WriteFile("wrong.csv", "\"Class\",\"Name\"\r\n\"Net\",\"x\"\r\n");
    const std::string missing = TempPath("missing.csv");
    const std::pair<std::string, std::string> cases[] = {
        {wrong,
         wrong +
             ":1: not a list of present devices: it has neither an InstanceId nor a PNPDeviceID column\n"},
        {missing, missing + ": cannot be read: No such file or directory\n"},
        {"", "SIMULATED_PRESENT: names no file\n"},
    };
    for (const auto& [list, message] : cases) {
        setenv("SIMULATED_PRESENT", list.c_str(), 1);
        const ToolRun run = RunTool(nullptr);
        unsetenv("SIMULATED_PRESENT");
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, message);
        EXPECT_EQ(run.status, 2);
    }
    std::remove(wrong.c_str());
}

// On Windows a write to a pipe whose reader has gone fails and the program goes on; the tool
// always exits 0.
TEST(ToolProcess, ExitsZeroWhenItsReaderHasGone)
{
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    const pid_t child = fork();
    if (child == 0) {
        // As a shell starts it: SIGPIPE at its default, whatever this process inherited.
        signal(SIGPIPE, SIG_DFL);
        unsetenv("SIMULATED_REGISTRY");
        dup2(ends[1], STDOUT_FILENO);
        execl(ADAPTER_REPORT_EXE, ADAPTER_REPORT_EXE, nullptr);
        _exit(127);
    }
    close(ends[1]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ToolProcess, RefusesAMachineItCannotLoadBeforeAnyReportLine)
{
    const std::string good = WriteFile("good.reg", RegFile({}));
    const std::string bad =
        WriteFile("bad.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM]\n\"v\"=dword:xyz\n");
    const std::string missing = TempPath("missing.reg");
    const std::string empty = WriteFile("empty.reg", "");
    const std::pair<std::string, std::string> cases[] = {
        {empty, empty + ":1: not a registry file: the file is empty\n"},
        {"/dev/null", "/dev/null:1: not a registry file: the file is empty\n"},
        {"/", "/: cannot be read: Is a directory\n"},
        {good + ":" + bad, bad + ":4: dword value must be 1 to 8 hex digits\n"},
        {missing, missing + ": cannot be read: No such file or directory\n"},
        {"", "SIMULATED_REGISTRY: an empty file name in the list\n"},
    };
    for (const auto& [registry, message] : cases) {
        SCOPED_TRACE(registry);
        const ToolRun run = RunTool(registry.c_str());
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, message);
        EXPECT_EQ(run.status, 2);
    }
    std::remove(good.c_str());
    std::remove(bad.c_str());
    std::remove(empty.c_str());
}

#if !ADAPTER_REPORT_SANITIZED // the sanitizers' shadow memory needs more address space than this
// An input too large for the memory there is, endless here, is refused like any other.
TEST(ToolProcess, RefusesWhatItRunsOutOfMemoryLoading)
{
    setenv("SIMULATED_PRESENT", "/dev/zero", 1);
    const ToolRun present = RunTool(nullptr, {}, rlim_t{1} << 28);
    unsetenv("SIMULATED_PRESENT");
    const ToolRun registry = RunTool("/dev/zero", {}, rlim_t{1} << 28);
    for (const ToolRun& run : {present, registry}) {
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "/dev/zero: out of memory while loading it\n");
        EXPECT_EQ(run.status, 2);
    }
}

// So is a registry export_registry loads but has not the memory to write, and no part of the
// export is left behind. A key of 32 values of a million bytes each loads in some 64 MB; written
// as hex, they take six times that at once.
TEST(ToolProcess, ExportRunningOutOfMemoryLeavesNothingBehind)
{
    sim::Registry machine;
    const auto big = sim::CreateKey(machine.Root(sim::RootKey::LocalMachine),
                                    sim::SplitKeyPath(u"SYSTEM\\CurrentControlSet\\Big"));
    const std::vector<unsigned char> data(999'000, 0xAB);
    for (int i = 0; i < 32; ++i) {
        big->SetValue(u"v" + std::u16string(1, static_cast<char16_t>(u'A' + i)), 3, data);
    }
    const std::string hive = TempPath("big.hiv");
    hive_builder::WriteSystemHive(hive, machine);
    // An earlier export of the same name stays as it was, and no part of this one is left.
    const std::string exported = WriteFile("export.reg", "an earlier export");
    const ToolRun run = RunTool(hive.c_str(), {exported}, rlim_t{1} << 28, EXPORT_REGISTRY_EXE);
    EXPECT_EQ(run.err, exported + ": not written: out of memory while writing it\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Slurp(exported), "an earlier export");
    const std::filesystem::path left(exported);
    for (const auto& entry : std::filesystem::directory_iterator(left.parent_path())) {
        EXPECT_NE(entry.path().filename().string().rfind(left.filename().string() + ".", 0), 0U)
            << entry.path();
    }
    std::remove(exported.c_str());
    std::remove(hive.c_str());
}
#endif

// At scale, five files of 64 MB. Suites named *Scale are labelled slow and run in the native pass
// only (tests/CMakeLists.txt).
//
// However long a line, loading takes no more memory than 1.5 times its file: the loaders read of a
// line what they can use, and refuse as soon as they can what Windows never writes. (The test
// process stays small: a child's peak counts what it shared with its parent before exec.)
TEST(ToolProcessScale, LongLinesCostNoMoreThanTheirFile)
{
    const std::size_t chunk = 1 << 20;
    const std::size_t chunks = 64;
    const struct {
        const char* setting;
        const char* head;
        int status;
    } files[] = {
        {"SIMULATED_REGISTRY", "", 2},                  // a first line of 64 MB is no header
        {"SIMULATED_REGISTRY", "REGEDIT4\n", 0},        // a line regedit passes over
        {"SIMULATED_REGISTRY", "REGEDIT4\n[HKCU\\", 2}, // a key path longer than Windows allows
        {"SIMULATED_PRESENT", "InstanceId,Name\nROOT\\NET\\0000,", 0},
        {"SIMULATED_PRESENT", "Name,InstanceId\nx,", 2}, // longer than a device instance ID
    };
    const long baseline = RunTool(nullptr).peakKiB;
    for (const auto& file : files) {
        SCOPED_TRACE(std::string(file.setting) + " " + file.head);
        const std::string path = TempPath("long");
        {
            std::ofstream out(path, std::ios::binary);
            out << file.head;
            const std::string line(chunk, 'x');
            for (std::size_t i = 0; i < chunks; ++i) {
                out << line;
            }
        }
        setenv(file.setting, path.c_str(), 1);
        const ToolRun run = RunTool(std::getenv("SIMULATED_REGISTRY"));
        unsetenv(file.setting);
        EXPECT_EQ(run.status, file.status) << run.err;
        EXPECT_LE(static_cast<double>(run.peakKiB - baseline) * 1024,
                  1.5 * static_cast<double>(chunk * chunks));
        std::remove(path.c_str());
    }
}

} // namespace
