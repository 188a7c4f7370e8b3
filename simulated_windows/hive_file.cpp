#include "simulated_windows/hive_file.h"

#include "simulated_windows/hive_walk.h"
#include "simulated_windows/reg_file.h"

#include <hivex.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <memory>
#include <sys/mman.h>
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
        const auto children = source->Subkeys();
        std::transform(children.begin(), children.end(), std::back_inserter(pending), [&](const auto& child) {
            return std::pair(child, target->CreateSubkey(child->Name()));
        });
    }
}

// An anonymous in-memory file holding `bytes`, for hivex, which reads hives from paths.
class MemoryFile {
  public:
    MemoryFile(std::string_view bytes, const std::string& fileName)
    {
        fd_ = memfd_create("hive", MFD_CLOEXEC);
        bool written = fd_ >= 0;
        for (std::size_t done = 0; written && done < bytes.size();) {
            const ssize_t count = write(fd_, bytes.data() + done, bytes.size() - done);
            written = count > 0;
            done += written ? static_cast<std::size_t>(count) : 0;
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

std::uint32_t DoubleWord(std::string_view bytes, std::size_t at)
{
    std::uint32_t word = 0;
    std::memcpy(&word, bytes.data() + at, 4);
    return word;
}

// What is wrong with the base block, which hivex would only call an invalid argument; empty when
// nothing is.
std::string BaseBlockFault(std::string_view bytes)
{
    const std::size_t baseBlock = 4096;
    if (bytes.size() < baseBlock + 32) {
        return "too short to be a hive (" + std::to_string(bytes.size()) + " bytes)";
    }
    std::uint32_t checksum = 0;
    for (std::size_t at = 0; at < 0x1FC; at += 4) {
        checksum ^= DoubleWord(bytes, at);
    }
    checksum = checksum == 0 ? 1 : checksum == 0xFFFFFFFF ? 0xFFFFFFFE : checksum;
    if (checksum != DoubleWord(bytes, 0x1FC)) {
        return "the checksum of its base block is wrong";
    }
    const std::uint64_t needed = baseBlock + std::uint64_t{DoubleWord(bytes, 0x28)};
    if (needed > bytes.size()) {
        return "cut short: its hive bins need " + std::to_string(needed) + " bytes, the file has " +
               std::to_string(bytes.size());
    }
    return {};
}

} // namespace

bool IsHive(std::string_view fileBytes)
{
    return fileBytes.substr(0, 4) == "regf";
}

// cppcheck-suppress constParameter ; the hive's keys are written into it: Root() hands out keys
void ImportSystemHive(Registry& registry, std::string_view fileBytes, const std::string& fileName,
                      const std::string& path)
{
    if (const std::string fault = BaseBlockFault(fileBytes); !fault.empty()) {
        throw RefusedInput(fileName, 0, "a damaged hive: " + fault);
    }
    std::unique_ptr<MemoryFile> memory;
    if (path.empty()) {
        memory = std::make_unique<MemoryFile>(fileBytes, fileName);
    }
    errno = 0;
    const std::unique_ptr<hive_h, HiveClose> hive(
        hivex_open(memory ? memory->Path().c_str() : path.c_str(), 0));
    if (!hive) {
        throw RefusedInput(fileName, 0,
                           std::string("a damaged hive: hivex cannot open it: ") + std::strerror(errno));
    }
    const auto system = registry.Root(RootKey::LocalMachine)->CreateSubkey(u"SYSTEM");
    const std::u16string controlSet = CopySystemHive(hive.get(), fileBytes, fileName, system);
    // What earlier files wrote under a CurrentControlSet that was not yet a link joins the control
    // set in use, below what the hive holds.
    const auto target = system->FindSubkey(controlSet);
    if (const auto earlier = system->LinkSubkey(u"CurrentControlSet", target)) {
        KeepWhatIsMissing(earlier, target);
    }
}

} // namespace simulated_windows
