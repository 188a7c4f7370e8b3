// The machine a process sees: loaded as the settings say at the first call that needs it, or put
// in place by the controls.
#include "machine.h"

#include "hive_file.h"
#include "mapped_file.h"
#include "platform_state.h"
#include "reg_file.h"
#include "settings.h"
#include "stop_refused.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <new>

namespace simulated_windows {
namespace {

struct Process {
    PlatformState state;
    bool registryLoaded = false;
    bool presentLoaded = false;
};

// Never destroyed, as a Windows process's memory is not taken apart at exit: nothing that runs
// after main returns can fail, and a large machine costs no time to leave.
Process& TheProcess()
{
    static Process& process = *[] {
        auto* created = new Process;
        created->state.user = StartupSettings().user;
        return created;
    }();
    return process;
}

// Windows has no SIGPIPE: a write to a pipe whose reader has gone fails, and the program goes on.
// Set before main, so that it holds for every write the program makes.
bool IgnoreBrokenPipes() noexcept
{
    return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}
const bool BrokenPipesFailWrites = IgnoreBrokenPipes();

// Runs `load` for the input named `source`; running out of memory there refuses that input, as
// a file too large for this machine, rather than ending the process.
template <typename Load> auto WithinMemory(const std::string& source, Load&& load)
{
    try {
        return load();
    } catch (const std::bad_alloc&) {
        throw RefusedInput(source, 0, "out of memory while loading it");
    }
}

PresentDevices ReadPresentFile(const std::string& path)
{
    return WithinMemory(path, [&] {
        const MappedFile file(path);
        return ReadPresentDevices(file.Bytes(), path);
    });
}

// The machine the settings name, for whatever no control has put in place yet.
void LoadStartupMachine(Process& process)
{
    const Settings& settings = StartupSettings();
    try {
        if (!process.presentLoaded) {
            process.state.present.reset();
            if (settings.presentList) {
                process.state.present = ReadPresentFile(*settings.presentList);
            }
            process.presentLoaded = true;
        }
        if (!process.registryLoaded) {
            if (settings.registryFiles) {
                LoadMachineFromFiles(*settings.registryFiles);
            } else {
                LoadMachine({RegFileText{"sample machine", std::string(SampleMachineRegFile())}});
            }
        }
    } catch (const RefusedInput& refusal) {
        StopRefused(refusal);
    }
}

} // namespace

PlatformState& Platform()
{
    Process& process = TheProcess();
    if (!process.registryLoaded || !process.presentLoaded) {
        LoadStartupMachine(process);
    }
    return process.state;
}

std::string ImportFile(Registry& registry, std::string_view bytes, const std::string& name,
                       const std::string& path, const ImportProgress& progress)
{
    return WithinMemory(name, [&] {
        if (IsHive(bytes)) {
            return ImportSystemHive(registry, bytes, name, path, progress);
        }
        ImportRegFile(registry, bytes, name, progress);
        return std::string();
    });
}

namespace {

// Loads what every file went into, then gives their warnings.
void LoadMachine(Registry staged, const std::vector<std::string>& warnings)
{
    LoadMachine(std::move(staged));
    for (const auto& warning : warnings) {
        if (!warning.empty()) {
            fprintf(stderr, "%s\n", warning.c_str());
        }
    }
}

} // namespace

void LoadMachine(const std::vector<RegFileText>& files)
{
    Registry staged;
    std::vector<std::string> warnings(files.size());
    std::transform(files.begin(), files.end(), warnings.begin(), [&](const RegFileText& file) {
        return ImportFile(staged, file.bytes, file.name, "", {});
    });
    LoadMachine(std::move(staged), warnings);
}

void LoadMachine(std::string_view regFileText)
{
    LoadMachine({RegFileText{"<text>", std::string(regFileText)}});
}

void LoadMachine(Registry registry)
{
    Process& process = TheProcess();
    process.state.registry = std::move(registry);
    process.registryLoaded = true;
}

void LoadMachineFromFiles(const std::vector<std::string>& paths)
{
    std::vector<MappedFile> files;
    for (const auto& path : paths) {
        if (path.empty()) {
            throw RefusedInput("SIMULATED_REGISTRY", 0, "an empty file name in the list");
        }
        WithinMemory(path, [&] { files.emplace_back(path); });
    }
    Registry staged;
    std::vector<std::string> warnings;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const MappedFile& file = files[i];
        warnings.push_back(ImportFile(staged, file.Bytes(), paths[i], paths[i],
                                      [&file](std::size_t done) { file.Release(done); }));
    }
    LoadMachine(std::move(staged), warnings);
}

void LoadPresentDevices(std::string_view csvBytes, const std::string& fileName)
{
    Process& process = TheProcess();
    process.state.present = ReadPresentDevices(csvBytes, fileName);
    process.presentLoaded = true;
}

void CountEveryDeviceAsPresent()
{
    Process& process = TheProcess();
    process.state.present.reset();
    process.presentLoaded = true;
}

void RunAs(User user)
{
    TheProcess().state.user = user;
}

void FailDeviceSetRequests(DWORD error)
{
    TheProcess().state.deviceSetFailure = error;
}

HandleCounts Handles()
{
    return TheProcess().state.Counts();
}

} // namespace simulated_windows
