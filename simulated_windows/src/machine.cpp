// The machine a process sees: loaded as the settings say at the first call that asks about it, or
// put in place by the controls.
#include "machine.h"

#include "hive_file.h"
#include "mapped_file.h"
#include "present_list.h"
#include "process_messages.h"
#include "process_start.h"
#include "reg_file.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <optional>
#include <vector>

namespace simulated_windows {
namespace {

struct Machine {
    Registry registry;
    bool registryLoaded = false;
    std::optional<PresentDevices> present; // none: every device counts as present
    bool presentLoaded = false;
    User user = StartupSettings().user;
    DWORD deviceSetFailure = ERROR_SUCCESS;
};

// Never destroyed, as a Windows process's memory is not taken apart at exit: nothing that runs
// after main returns can fail, and a large machine costs no time to leave.
Machine& TheMachine()
{
    static Machine& machine = *new Machine;
    return machine;
}

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

// The machine, with what no control has put in place loaded as the settings say.
Machine& Loaded()
{
    Machine& machine = TheMachine();
    if (machine.registryLoaded && machine.presentLoaded) {
        return machine;
    }
    const Settings& settings = StartupSettings();
    try {
        if (!machine.presentLoaded) {
            machine.present.reset();
            if (settings.presentList) {
                machine.present = ReadPresentFile(*settings.presentList);
            }
            machine.presentLoaded = true;
        }
        if (!machine.registryLoaded) {
            if (settings.registryFiles) {
                LoadMachineFromFiles(*settings.registryFiles);
            } else {
                LoadMachine({RegistryFile{"sample machine", std::string(SampleMachineRegFile())}});
            }
        }
    } catch (const RefusedInput& refusal) {
        StopRefused(refusal);
    }
    return machine;
}

// Puts the registry every file went into in place, then gives the files' warnings.
void Install(Registry staged, const std::vector<std::optional<DirtyHiveWarning>>& warnings)
{
    ReplaceRegistry(std::move(staged));
    for (const auto& warning : warnings) {
        if (warning) {
            GiveWarning(*warning);
        }
    }
}

} // namespace

const Registry& LoadedRegistry()
{
    return Loaded().registry;
}

User RunningUser()
{
    return Loaded().user;
}

bool IsPresent(std::u16string_view instanceId)
{
    const auto& present = Loaded().present;
    return !present || present->Contains(InstanceIdKey(instanceId));
}

DWORD DeviceSetFailure()
{
    return Loaded().deviceSetFailure;
}

void ReplaceRegistry(Registry registry)
{
    Machine& machine = TheMachine();
    machine.registry = std::move(registry);
    machine.registryLoaded = true;
}

void ResetMachine()
{
    TheMachine() = Machine{};
}

std::optional<DirtyHiveWarning> ImportFile(Registry& registry, std::string_view bytes,
                                           const std::string& name, const std::string& path,
                                           const ImportProgress& progress)
{
    return WithinMemory(name, [&] {
        if (IsHive(bytes)) {
            return ImportHive(registry, bytes, name, path, progress);
        }
        ImportRegFile(registry, bytes, name, progress);
        return std::optional<DirtyHiveWarning>();
    });
}

void LoadMachine(const std::vector<RegistryFile>& files)
{
    Registry staged;
    std::vector<std::optional<DirtyHiveWarning>> warnings(files.size());
    std::transform(files.begin(), files.end(), warnings.begin(), [&](const RegistryFile& file) {
        return ImportFile(staged, file.bytes, file.name, "", {});
    });
    Install(std::move(staged), warnings);
}

void LoadMachine(std::string_view regFileText)
{
    LoadMachine({RegistryFile{"<text>", std::string(regFileText)}});
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
    std::vector<std::optional<DirtyHiveWarning>> warnings;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const MappedFile& file = files[i];
        warnings.push_back(ImportFile(staged, file.Bytes(), paths[i], paths[i],
                                      [&file](std::size_t done) { file.Release(done); }));
    }
    Install(std::move(staged), warnings);
}

void LoadPresentDevices(std::string_view csvBytes, const std::string& fileName)
{
    Machine& machine = TheMachine();
    machine.present = ReadPresentDevices(csvBytes, fileName);
    machine.presentLoaded = true;
}

void CountEveryDeviceAsPresent()
{
    Machine& machine = TheMachine();
    machine.present.reset();
    machine.presentLoaded = true;
}

void RunAs(User user)
{
    TheMachine().user = user;
}

void FailDeviceSetRequests(DWORD error)
{
    TheMachine().deviceSetFailure = error;
}

} // namespace simulated_windows
