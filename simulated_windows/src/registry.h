// The in-memory registry: keys with case-insensitive names, kept in the order Windows enumerates
// them (by upper-cased name), and values kept in the order they were set.
#pragma once

#include "code_page.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace simulated_windows {

// A value: its name (empty for the key's default value), type and data. The name and the data
// share one allocation: a machine's registry holds millions of values.
class RegistryValue {
  public:
    RegistryValue() = default;
    RegistryValue(std::u16string_view name, std::uint32_t type, std::span<const unsigned char> data);

    std::u16string_view Name() const;
    std::uint32_t Type() const { return type_; }
    std::span<const unsigned char> Data() const;

  private:
    std::unique_ptr<unsigned char[]> block_; // the name's UTF-16 units, then the data
    std::uint32_t type_ = 0;
    std::uint32_t nameLength_ = 0; // in UTF-16 units
    std::uint32_t dataSize_ = 0;
};

bool IsStringType(std::uint32_t type);

class RegistryKey;

// Orders keys by their names compared case-insensitively, as Windows enumerates subkeys; also
// finds a key by a name alone.
struct KeyNameLess {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const;
    bool operator()(const std::shared_ptr<RegistryKey>& a, const std::shared_ptr<RegistryKey>& b) const;
    bool operator()(const std::shared_ptr<RegistryKey>& a, std::u16string_view b) const;
    bool operator()(std::u16string_view a, const std::shared_ptr<RegistryKey>& b) const;
};

class RegistryKey {
  public:
    explicit RegistryKey(std::u16string name) : name_(std::move(name)) {}
    // Releases the tree below without recursing: a tree may be as deep as its input makes it.
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    const std::u16string& Name() const { return name_; }

    // nullptr when there is no such subkey. A link leads to its target, here and in the two
    // functions that follow.
    std::shared_ptr<RegistryKey> FindSubkey(std::u16string_view name) const;
    // The existing subkey of that name, or a new one.
    std::shared_ptr<RegistryKey> CreateSubkey(std::u16string_view name);
    // Removes the subkey and everything under it.
    void DeleteSubkey(std::u16string_view name);
    // Subkeys in enumeration order.
    std::vector<std::shared_ptr<RegistryKey>> Subkeys() const;
    // The same, each with the name it is listed under: a link's own, where its target has another.
    std::vector<std::pair<std::u16string_view, std::shared_ptr<RegistryKey>>> ListedSubkeys() const;
    // Makes the subkey `name` a link to `target`, as Windows links CurrentControlSet to the control
    // set in use. Returns the key of that name it replaced, unless that was a link or there was none.
    std::shared_ptr<RegistryKey> LinkSubkey(std::u16string_view name, std::shared_ptr<RegistryKey> target);

    const RegistryValue* FindValue(std::u16string_view name) const;
    // The values in creation order.
    std::vector<const RegistryValue*> Values() const;
    void SetValue(std::u16string_view name, std::uint32_t type, std::span<const unsigned char> data);
    void DeleteValue(std::u16string_view name);

    // Gives back the room kept for values yet to come: a loader calls it when it leaves a key.
    void ShrinkToFit() { values_.shrink_to_fit(); }

  private:
    using SubkeySet = std::set<std::shared_ptr<RegistryKey>, KeyNameLess>;

    // The key a subkey stands for: its link's target, or itself.
    static const std::shared_ptr<RegistryKey>& Resolved(const std::shared_ptr<RegistryKey>& key);
    // The position of the live value of that name, or values_.size().
    std::size_t FindSlot(std::u16string_view name) const;
    void BuildIndex();

    std::u16string name_;
    std::unique_ptr<SubkeySet> subkeys_; // null until the first subkey
    std::vector<RegistryValue> values_;  // in creation order
    // Upper-cased name to position, only for a key with many values: it finds one by hashing, not
    // by a scan, and a value deleted from it leaves an unindexed gap, so that deleting is not
    // linear in the key's size either. Most keys have a handful and do without its memory.
    std::unique_ptr<std::unordered_map<std::u16string, std::size_t>> index_;
    std::shared_ptr<RegistryKey> link_; // the key a link leads to; null for a key of its own
};

// Windows refuses keys nested deeper than this below their root key, and longer key and value
// names (registry element size limits). They are the registry's, whatever file it is loaded from:
// every loader refuses an element past one with the reason below, so that what loads from one
// kind of file loads from the other, and what export_registry writes loads back.
inline constexpr std::size_t MaxKeyDepth = 512;
inline constexpr std::size_t MaxKeyNameLength = 255;
inline constexpr std::size_t MaxValueNameLength = 16383;
std::string KeyTooDeep();                               // "key nested more than 512 levels deep"
std::string KeyNameTooLong(std::u16string_view name);   // "key name longer than 255 characters: "...""
std::string ValueNameTooLong(std::u16string_view name); // the same for value names, past 16383
std::string KeyPathTooLong(); // a path past the longest those limits allow, before it is read whole
// Why Windows could not hold a key of that name, or a value: a name is a counted string, but the
// registry's functions take it up to a NUL, and a key's up to a backslash, which separates names.
// A key's name is "one or more printable characters" (Microsoft, "Structure of the Registry"): a
// line break is none, and would end a key's line in a .reg file, where nothing escapes it. Past the limits
// above, the reasons above. An empty string for a name it can hold. Every loader refuses such a
// name, and export_registry never writes one.
std::string KeyNameFault(std::u16string_view name);   // "key name holding a NUL: "...""
std::string ValueNameFault(std::u16string_view name); // "value name holding a NUL: "...""

// Splits a path at its backslashes. A path is invalid (`valid` false) when it
// begins with a backslash or has an empty name inside; backslashes after the last name are
// dropped.
struct KeyPath {
    bool valid = true;
    std::vector<std::u16string> names;
};
KeyPath SplitKeyPath(std::u16string_view path);
// The same into an existing KeyPath, reusing its strings: for a loader that splits a path a line.
void SplitKeyPath(std::u16string_view path, KeyPath& into);

// The key at `path` below `from`, or nullptr.
std::shared_ptr<RegistryKey> FindKey(const std::shared_ptr<RegistryKey>& from, const KeyPath& path);
// The key at `path` below `from`, created with any missing parents.
std::shared_ptr<RegistryKey> CreateKey(const std::shared_ptr<RegistryKey>& from, const KeyPath& path);

bool NamesEqual(std::u16string_view a, std::u16string_view b);

// The predefined keys, numbered as their HKEY values are: HKEY_CLASSES_ROOT plus the number.
// Number 4, the performance data, is not a key of the registry.
enum class RootKey : std::uint32_t {
    ClassesRoot = 0,
    CurrentUser = 1,
    LocalMachine = 2,
    Users = 3,
    CurrentConfig = 5,
};
inline constexpr std::uint32_t RootKeyNumbers = 6;

// The root key a name stands for, written in full (HKEY_LOCAL_MACHINE) or short (HKLM), in any
// case; nullopt for a name of none.
std::optional<RootKey> RootKeyNamed(std::u16string_view name);

class Registry {
  public:
    Registry();
    // nullptr for a number that names no key of the registry.
    std::shared_ptr<RegistryKey> Root(RootKey root) const;

  private:
    std::shared_ptr<RegistryKey> roots_[RootKeyNumbers];
};

} // namespace simulated_windows
