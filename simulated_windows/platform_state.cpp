#include "simulated_windows/platform_state.h"

#include "simulated_windows/hive_file.h"
#include "simulated_windows/mapped_file.h"
#include "simulated_windows/reg_file.h"
#include "simulated_windows/simulated_platform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace simulated_windows {
namespace {

thread_local DWORD LastErrorCode = ERROR_SUCCESS;
thread_local int PlatformCallDepth = 0;

struct Process {
    PlatformState state;
    bool machineLoaded = false;
};

// Never destroyed, as a Windows process's memory is not taken apart at exit: nothing that runs
// after main returns can fail, and a large machine costs no time to leave.
Process& TheProcess()
{
    static Process& process = *new Process;
    return process;
}

// Windows has no SIGPIPE: a write to a pipe whose reader has gone fails, and the program goes on.
// Set before main, so that it holds for every write the program makes.
bool IgnoreBrokenPipes() noexcept
{
    return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}
const bool BrokenPipesFailWrites = IgnoreBrokenPipes();

std::vector<std::string> SplitList(const std::string& list)
{
    std::vector<std::string> items;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = list.find(':', start);
        items.push_back(list.substr(start, end - start));
        if (end == std::string::npos) {
            return items;
        }
        start = end + 1;
    }
}

// A file is a hive or a .reg file by its content, not its name.
void ImportFile(Registry& registry, std::string_view bytes, const std::string& name, const std::string& path,
                const ImportProgress& progress)
{
    if (IsHive(bytes)) {
        ImportSystemHive(registry, bytes, name, path, progress);
    } else {
        ImportRegFile(registry, bytes, name, progress);
    }
}

void LoadStartupMachine()
{
    try {
        if (const char* user = std::getenv("SIMULATED_USER"); user != nullptr) {
            const std::string_view name = user;
            if (name != "standard" && name != "administrator") {
                throw RefusedInput("SIMULATED_USER", 0,
                                   "\"" + std::string(name) + "\" is neither standard nor administrator");
            }
            TheProcess().state.user = name == "standard" ? User::Standard : User::Administrator;
        }
        if (const char* list = std::getenv("SIMULATED_PRESENT"); list != nullptr) {
            const MappedFile file(list);
            TheProcess().state.present = ReadPresentDevices(file.Bytes(), list);
        }
        const char* files = std::getenv("SIMULATED_REGISTRY");
        if (files != nullptr) {
            LoadMachineFromFiles(SplitList(files));
        } else {
            LoadMachine({RegFileText{"sample machine", std::string(SampleMachineRegFile())}});
        }
    } catch (const RefusedInput& error) {
        fprintf(stderr, "%s\n", error.what());
        std::exit(2);
    }
}

} // namespace

PlatformState& Platform()
{
    Process& process = TheProcess();
    if (!process.machineLoaded) {
        LoadStartupMachine();
    }
    return process.state;
}

PlatformCall::PlatformCall()
{
    ++PlatformCallDepth;
}

PlatformCall::~PlatformCall()
{
    --PlatformCallDepth;
}

bool InPlatformCall()
{
    return PlatformCallDepth > 0;
}

ULONG_PTR PlatformState::NextHandle()
{
    // Handles are multiples of four, as Windows gives them, and never reused, so that a stale
    // handle is caught rather than landing on a newer object.
    nextHandle_ += 4;
    return nextHandle_;
}

const OpenKey* PlatformState::ResolveKey(HKEY key)
{
    const auto value = reinterpret_cast<ULONG_PTR>(key);
    if (const auto predefined = PredefinedKey(key)) {
        // Looked up afresh each time: loading a machine replaces the registry and its roots.
        OpenKey& root = roots_[static_cast<std::uint32_t>(*predefined)];
        // Windows opens a predefined key with all the rights the user has on it.
        root = OpenKey{registry.Root(*predefined), RootRights(*predefined), RootRights(*predefined)};
        if (root.key) {
            return &root;
        }
    }
    const auto found = keys_.find(value);
    if (found == keys_.end()) {
        ++counts.invalidHandleUses;
        return nullptr;
    }
    return &found->second;
}

REGSAM PlatformState::RootRights(RootKey root) const
{
    return user == User::Administrator || root == RootKey::CurrentUser ? KEY_ALL_ACCESS : KEY_READ;
}

std::optional<RootKey> PredefinedKey(HKEY key)
{
    const auto value = reinterpret_cast<ULONG_PTR>(key);
    const auto first = reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT);
    if (value < first || value - first >= RootKeyNumbers) {
        return std::nullopt;
    }
    return static_cast<RootKey>(value - first);
}

REGSAM RequestedRights(REGSAM access, REGSAM granted)
{
    REGSAM rights = access & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY | MAXIMUM_ALLOWED | GENERIC_READ |
                               GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    rights |= (access & GENERIC_READ) != 0 ? KEY_READ : 0;
    rights |= (access & GENERIC_WRITE) != 0 ? KEY_WRITE : 0;
    rights |= (access & GENERIC_EXECUTE) != 0 ? KEY_EXECUTE : 0;
    rights |= (access & GENERIC_ALL) != 0 ? KEY_ALL_ACCESS : 0;
    rights |= (access & MAXIMUM_ALLOWED) != 0 ? granted : 0;
    return rights;
}

HKEY PlatformState::AddKey(std::shared_ptr<RegistryKey> key, REGSAM access, REGSAM granted)
{
    const ULONG_PTR handle = NextHandle();
    keys_.emplace(handle, OpenKey{std::move(key), access, granted});
    ++counts.openKeys;
    return reinterpret_cast<HKEY>(handle);
}

bool PlatformState::CloseKey(HKEY key)
{
    if (keys_.erase(reinterpret_cast<ULONG_PTR>(key)) == 0) {
        ++counts.invalidHandleUses;
        return false;
    }
    --counts.openKeys;
    return true;
}

DeviceSet* PlatformState::ResolveDeviceSet(HDEVINFO set)
{
    const auto found = deviceSets_.find(reinterpret_cast<ULONG_PTR>(set));
    if (found == deviceSets_.end()) {
        ++counts.invalidHandleUses;
        return nullptr;
    }
    return &found->second;
}

HDEVINFO PlatformState::AddDeviceSet(DeviceSet set)
{
    const ULONG_PTR handle = NextHandle();
    deviceSets_.emplace(handle, std::move(set));
    ++counts.openDeviceSets;
    return reinterpret_cast<HDEVINFO>(handle);
}

bool PlatformState::DestroyDeviceSet(HDEVINFO set)
{
    if (deviceSets_.erase(reinterpret_cast<ULONG_PTR>(set)) == 0) {
        ++counts.invalidHandleUses;
        return false;
    }
    --counts.openDeviceSets;
    return true;
}

void LoadMachine(const std::vector<RegFileText>& files)
{
    Registry staged;
    for (const auto& file : files) {
        ImportFile(staged, file.bytes, file.name, "", {});
    }
    LoadMachine(std::move(staged));
}

void LoadMachine(Registry registry)
{
    Process& process = TheProcess();
    process.state.registry = std::move(registry);
    process.machineLoaded = true;
}

void LoadMachine(std::string_view regFileText)
{
    LoadMachine({RegFileText{"<text>", std::string(regFileText)}});
}

void LoadMachineFromFiles(const std::vector<std::string>& paths)
{
    std::vector<MappedFile> files;
    for (const auto& path : paths) {
        if (path.empty()) {
            throw RefusedInput("SIMULATED_REGISTRY", 0, "an empty file name in the list");
        }
        files.emplace_back(path);
    }
    Registry staged;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const MappedFile& file = files[i];
        ImportFile(staged, file.Bytes(), paths[i], paths[i],
                   [&file](std::size_t done) { file.Release(done); });
    }
    LoadMachine(std::move(staged));
}

void LoadPresentDevices(std::string_view csvBytes, const std::string& fileName)
{
    Platform().present = ReadPresentDevices(csvBytes, fileName);
}

void CountEveryDeviceAsPresent()
{
    Platform().present.reset();
}

void RunAs(User user)
{
    Platform().user = user;
}

void FailDeviceSetRequests(DWORD error)
{
    Platform().deviceSetFailure = error;
}

HandleCounts Handles()
{
    return Platform().counts;
}

std::optional<StoredValue> ReadStoredValue(HKEY root, std::string_view keyPath, std::string_view valueName)
{
    PlatformState& machine = Platform();
    const OpenKey* base = machine.ResolveKey(root);
    if (base == nullptr) {
        return std::nullopt;
    }
    const auto key = FindKey(base->key, SplitKeyPath(AnsiToUtf16(keyPath)));
    const RegistryValue* value = key ? key->FindValue(AnsiToUtf16(valueName)) : nullptr;
    if (value == nullptr) {
        return std::nullopt;
    }
    return StoredValue{value->Type(), Bytes(value->Data().begin(), value->Data().end())};
}

} // namespace simulated_windows

extern "C" DWORD GetLastError()
{
    return simulated_windows::LastErrorCode;
}

extern "C" void SetLastError(DWORD errorCode)
{
    simulated_windows::LastErrorCode = errorCode;
}
