#include "hive_file.h"

#include "code_page.h"
#include "hive_log.h"
#include "hive_walk.h"
#include "mapped_file.h"
#include "regf_layout.h"

#include <hivex.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <iterator>
#include <memory>
#include <optional>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace simulated_windows {
namespace {

struct HiveClose {
    void operator()(hive_h* hive) const { hivex_close(hive); }
};

// Merges what `from` holds into `into`, keeping what `into` already has: for a key that a link
// replaces, whose contents came from earlier files.
void KeepWhatIsMissing(const std::shared_ptr<RegistryKey>& from, const std::shared_ptr<RegistryKey>& into)
{
    std::vector<std::pair<std::shared_ptr<RegistryKey>, std::shared_ptr<RegistryKey>>> pending{{from, into}};
    while (!pending.empty()) {
        const std::shared_ptr<RegistryKey> source = pending.back().first;
        const std::shared_ptr<RegistryKey> target = pending.back().second;
        pending.pop_back();
        for (const RegistryValue* value : source->Values()) {
            if (target->FindValue(value->Name()) == nullptr) {
                target->SetValue(value->Name(), value->Type(), value->Data());
            }
        }
        for (const auto& child : source->Subkeys()) {
            // cppcheck-suppress useStlAlgorithm ; each step creates a key: no pure transform
            pending.emplace_back(child, target->CreateSubkey(child->Name()));
        }
    }
}

// An anonymous in-memory file holding `bytes`, for hivex, which reads hives from paths.
class MemoryFile {
  public:
    // `copied` hears how much is in, a few MiB at a time, so that the file's own pages can be
    // given back as they go: the hive is then held once, not twice.
    MemoryFile(std::string_view bytes, const std::string& fileName, const ImportProgress& copied)
    {
        fd_ = memfd_create("hive", MFD_CLOEXEC);
        bool written = fd_ >= 0;
        for (std::size_t done = 0; written && done < bytes.size();) {
            const ssize_t count =
                write(fd_, bytes.data() + done, std::min<std::size_t>(bytes.size() - done, 1 << 23));
            written = count > 0;
            done += written ? static_cast<std::size_t>(count) : 0;
            if (copied) {
                copied(done);
            }
        }
        if (!written) {
            throw RefusedInput(fileName, 0,
                               std::string("cannot be held for reading: ") + std::strerror(errno));
        }
    }
    ~MemoryFile() { close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    std::string Path() const { return "/proc/self/fd/" + std::to_string(fd_); }

  private:
    int fd_ = -1;
};

// What is wrong with the base block, which hivex would only call an invalid argument; empty when
// nothing is.
std::string BaseBlockFault(std::string_view bytes)
{
    if (bytes.size() < regf::BaseBlockSize + 32) {
        return "too short to be a hive (" + std::to_string(bytes.size()) + " bytes)";
    }
    if (!regf::ChecksumHolds(bytes)) {
        return "the checksum of its base block is wrong";
    }
    const std::uint64_t needed =
        regf::BaseBlockSize + std::uint64_t{regf::Read32(bytes, regf::base::BinsSize)};
    if (needed > bytes.size()) {
        return "cut short: its hive bins need " + std::to_string(needed) + " bytes, the file has " +
               std::to_string(bytes.size());
    }
    return {};
}

// A hive that hivex has opened from bytes read here, never from the file again, which may be a
// pipe or may have changed since; its base block is checked first.
class OpenedHive {
  public:
    OpenedHive(std::string_view bytes, const std::string& fileName, const ImportProgress& progress)
        : memory_(Checked(bytes, fileName), fileName, progress)
    {
        hive_.reset(hivex_open(memory_.Path().c_str(), 0));
        if (!hive_) {
            throw RefusedInput(fileName, 0, "a damaged hive: hivex cannot open it");
        }
    }
    hive_h* get() const { return hive_.get(); }

  private:
    static std::string_view Checked(std::string_view bytes, const std::string& fileName)
    {
        if (const std::string fault = BaseBlockFault(bytes); !fault.empty()) {
            throw RefusedInput(fileName, 0, "a damaged hive: " + fault);
        }
        return bytes;
    }

    MemoryFile memory_;
    std::unique_ptr<hive_h, HiveClose> hive_;
};

// The name of the control set that Select\Current names ("ControlSet001"), checked to be in the
// hive: a SYSTEM hive's meaning, which Windows gives it at boot.
std::u16string CurrentControlSet(const HiveReader& hive, hive_node_h root, hive_node_h select)
{
    const std::optional<std::uint32_t> number = hive.DwordValue(select, u"Current");
    if (!number) {
        hive.Fail("not a SYSTEM hive: Select has no DWORD value Current");
    }
    char name[32];
    std::snprintf(name, sizeof name, "ControlSet%03u", static_cast<unsigned>(*number));
    if (hive.FindChild(root, AnsiToUtf16(name)) == 0) {
        hive.Fail("not a SYSTEM hive: Select\\Current is " + std::to_string(*number) +
                  ", but the hive has no " + name);
    }
    return AnsiToUtf16(name);
}

} // namespace

bool IsHive(std::string_view fileBytes)
{
    return fileBytes.substr(0, 4) == "regf";
}

namespace {

// Where a hive of one subtree goes: `reg save` of a key names the hive's root key after the key
// saved (a real save of HKCU\Software names it "Software": tests/hive/real/README.md), so the
// root's name says which key the hive was; these are the two the tool reads.
struct Subtree {
    std::u16string_view rootName;
    // cppcheck-suppress unusedStructMember ; read through the pointer std::find_if returns
    std::u16string_view path; // below HKEY_LOCAL_MACHINE
    // cppcheck-suppress unusedStructMember ; the same
    std::size_t depth; // its keys below HKEY_LOCAL_MACHINE
};
constexpr Subtree Subtrees[] = {
    {u"Enum", u"SYSTEM\\CurrentControlSet\\Enum", 3},
    {u"Class", u"SYSTEM\\CurrentControlSet\\Control\\Class", 4},
};

// Mounts a whole SYSTEM hive, whose root holds `select`, at HKEY_LOCAL_MACHINE\SYSTEM, with
// CurrentControlSet linked.
// cppcheck-suppress constParameter ; the hive's keys are written into it: Root() hands out keys
void MountWholeSystemHive(Registry& registry, const HiveReader& hive, hive_node_h select)
{
    const std::u16string controlSet = CurrentControlSet(hive, hive.Root(), select);
    const auto system = registry.Root(RootKey::LocalMachine)->CreateSubkey(u"SYSTEM");
    // A CurrentControlSet key stored in the hive is passed over: Windows makes that name a link at
    // boot, which shadows a stored key.
    CopyHive(hive, system, 1, u"CurrentControlSet");
    // What earlier files wrote under a CurrentControlSet that was not yet a link joins the control
    // set in use, below what the hive holds.
    const auto target = system->FindSubkey(controlSet);
    if (const auto earlier = system->LinkSubkey(u"CurrentControlSet", target)) {
        KeepWhatIsMissing(earlier, target);
    }
}

} // namespace

// cppcheck-suppress constParameter ; the hive's keys are written into it: Root() hands out keys
void MountHive(Registry& registry, std::string_view hiveBytes, const std::string& fileName,
               const ImportProgress& progress)
{
    const OpenedHive opened(hiveBytes, fileName, progress);
    const HiveReader hive(opened.get(), hiveBytes, fileName);
    const std::u16string rootName = hive.NodeName(hive.Root());
    const auto* const subtree =
        std::find_if(std::begin(Subtrees), std::end(Subtrees),
                     [&](const Subtree& known) { return NamesEqual(rootName, known.rootName); });
    if (subtree != std::end(Subtrees)) {
        // Through CurrentControlSet, a link when a SYSTEM hive came first: into the control set in
        // use, as a .reg file's keys go.
        CopyHive(hive, CreateKey(registry.Root(RootKey::LocalMachine), SplitKeyPath(subtree->path)),
                 subtree->depth);
        return;
    }
    const hive_node_h select = hive.FindChild(hive.Root(), u"Select");
    if (select == 0) {
        hive.Fail("neither a SYSTEM hive (it has no Select key) nor a hive of Enum or Control\\Class: its "
                  "root key is named " +
                  QuotedText(rootName) + ", as reg save names it after the key saved");
    }
    MountWholeSystemHive(registry, hive, select);
}

void ReadHive(std::string_view bytes, std::span<const HiveLog> logs, const std::string& fileName,
              const std::shared_ptr<RegistryKey>& into)
{
    const RecoveredHive recovered = RecoverHive(bytes, logs);
    const std::string_view read = recovered.bytes.empty() ? bytes : recovered.bytes;
    const OpenedHive opened(read, fileName, {});
    CopyHive(HiveReader(opened.get(), read, fileName), into, 1);
}

namespace {

// The paths of NAME.LOG1 and NAME.LOG2 beside the hive at `path`, those that exist, in that order.
// Names are matched without regard to case, as a disk mounted from Windows may spell them either
// way; of two that differ only in case, the first in byte order is taken.
std::vector<std::string> LogsBeside(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string hiveName = path.substr(folder.size());
    std::string found[2];
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(folder.empty() ? "." : folder.c_str()),
                                                      closedir);
    for (const dirent* entry = listing ? readdir(listing.get()) : nullptr; entry != nullptr;
         entry = readdir(listing.get())) {
        for (int log = 0; log < 2; ++log) {
            const std::string wanted = hiveName + ".LOG" + std::to_string(log + 1);
            if (strcasecmp(entry->d_name, wanted.c_str()) == 0 &&
                (found[log].empty() || found[log] > entry->d_name)) {
                found[log] = entry->d_name;
            }
        }
    }
    std::vector<std::string> paths;
    for (const std::string& name : found) {
        if (!name.empty()) {
            paths.push_back(folder + name);
        }
    }
    return paths;
}

} // namespace

std::optional<DirtyHiveWarning> ImportHive(Registry& registry, std::string_view fileBytes,
                                           const std::string& fileName, const std::string& path,
                                           const ImportProgress& progress)
{
    // A clean hive never opens what lies beside it.
    const std::vector<std::string> logPaths =
        path.empty() || !HiveIsDirty(fileBytes) ? std::vector<std::string>{} : LogsBeside(path);
    std::vector<MappedFile> files;
    std::vector<HiveLog> logs;
    files.reserve(logPaths.size()); // the logs' bytes stay where they are while `logs` points at them
    std::transform(logPaths.begin(), logPaths.end(), std::back_inserter(logs),
                   [&](const std::string& logPath) {
                       // Windows writes logs as files: anything else by that name (a folder, a pipe that
                       // might never end, a device) is no log, and is not waited on.
                       struct stat status {};
                       if (stat(logPath.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
                           throw RefusedInput(logPath, 0, "cannot be read: not a file");
                       }
                       return HiveLog{logPath, files.emplace_back(logPath).Bytes()};
                   });
    const RecoveredHive recovered = RecoverHive(fileBytes, logs);
    if (recovered.bytes.empty()) {
        MountHive(registry, fileBytes, fileName, progress);
    } else {
        if (progress) {
            progress(fileBytes.size()); // the recovered copy is read from now on
        }
        MountHive(registry, recovered.bytes, fileName);
    }
    if (!recovered.dirty || recovered.applied > 0) {
        return std::nullopt;
    }
    const std::string& shown = path.empty() ? fileName : path;
    return DirtyHiveWarning{fileName, shown.substr(shown.rfind('/') + 1), !logs.empty()};
}

std::string DirtyHiveWarning::Text() const
{
    return fileName + ": warning: a dirty hive (Windows had not finished writing it back) " +
           (logsBeside ? std::string("whose logs hold nothing to apply, read as it stands")
                       : "without its logs, read as it stands: its latest changes are in " + hiveName +
                             ".LOG1 and " + hiveName + ".LOG2 of the same folder; copy them beside it");
}

} // namespace simulated_windows
