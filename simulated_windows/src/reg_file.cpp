#include "reg_file.h"

#include "reg_grammar.h"

#include <memory>
#include <vector>

namespace simulated_windows {
namespace {

// Builds the registry from the records the grammar reads, line by line.
class Importer {
  public:
    Importer(Registry& registry, std::string_view bytes, const std::string& fileName,
             const ImportProgress& progress)
        : registry_(registry), reader_(bytes, fileName, progress)
    {
    }

    void Run()
    {
        const RegFileFormat format = ReadRegFileHeader(reader_);
        while (const auto line = reader_.NextLine()) {
            switch (KindOfLine(*line)) {
            case RegLineKind::Key:
                ReadKeyLine(reader_, *line, keyLine_);
                EnterKey();
                break;
            case RegLineKind::Value:
                if (!inKey_) {
                    reader_.Fail("value outside any key");
                }
                Apply(ReadValueLine(reader_, *line, format));
                break;
            case RegLineKind::Other:
                break;
            }
        }
    }

  private:
    // Opens or deletes the key of the last key line, within the limits Windows sets.
    void EnterKey()
    {
        const KeyPath& path = keyLine_.path;
        if (path.names.size() > MaxKeyDepth) {
            reader_.Fail(KeyTooDeep());
        }
        for (const auto& name : path.names) {
            if (const std::string fault = KeyNameFault(name); !fault.empty()) {
                reader_.Fail(fault);
            }
        }
        inKey_ = true;
        if (key_) {
            key_->ShrinkToFit(); // a file gives each key's values together
        }
        const std::shared_ptr<RegistryKey> root = registry_.Root(keyLine_.root);
        if (!keyLine_.remove) {
            key_ = OpenPath(root, path);
            return;
        }
        openPath_.clear(); // the deletion may take keys on it out of the tree
        KeyPath parentPath = path;
        parentPath.names.pop_back();
        if (const auto parent = FindKey(root, parentPath)) {
            parent->DeleteSubkey(path.names.back());
        }
        // regedit opens no key after a deletion: the values that follow are passed over.
        key_ = nullptr;
    }

    // The key at `path` below `root`, created with any missing parents. Exports list keys in tree
    // order, so the walk starts from the deepest key that the previous key line shares.
    std::shared_ptr<RegistryKey> OpenPath(const std::shared_ptr<RegistryKey>& root, const KeyPath& path)
    {
        std::size_t shared = 0;
        if (openRoot_ == root) {
            while (shared < openPath_.size() && shared < path.names.size() &&
                   NamesEqual(openPath_[shared]->Name(), path.names[shared])) {
                ++shared;
            }
        }
        openRoot_ = root;
        openPath_.resize(shared);
        std::shared_ptr<RegistryKey> key = shared == 0 ? root : openPath_.back();
        for (std::size_t i = shared; i < path.names.size(); ++i) {
            key = key->CreateSubkey(path.names[i]);
            openPath_.push_back(key);
        }
        return key;
    }

    void Apply(const RegValueLine& value)
    {
        if (const std::string fault = ValueNameFault(value.name); !fault.empty()) {
            reader_.Fail(fault);
        }
        if (!key_) {
            return;
        }
        if (value.remove) {
            key_->DeleteValue(value.name);
        } else {
            key_->SetValue(value.name, value.type, value.data);
        }
    }

    Registry& registry_;
    RegLineReader reader_;
    bool inKey_ = false;
    std::shared_ptr<RegistryKey> key_;
    RegKeyLine keyLine_; // the last key line, kept for its strings
    // The keys from openRoot_ down to the last key a key line opened.
    std::shared_ptr<RegistryKey> openRoot_;
    std::vector<std::shared_ptr<RegistryKey>> openPath_;
};

} // namespace

void ImportRegFile(Registry& registry, std::string_view fileBytes, const std::string& fileName,
                   const ImportProgress& progress)
{
    Importer(registry, fileBytes, fileName, progress).Run();
}

} // namespace simulated_windows
