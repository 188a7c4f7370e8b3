// The in-memory registry: keys with case-insensitive names, kept in the order Windows enumerates
// them (by upper-cased name), and values kept in the order they were set.
#pragma once

#include "simulated_windows/code_page.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace simulated_windows {

struct RegistryValue {
    std::u16string name; // empty for the key's default value
    std::uint32_t type = 0;
    Bytes data;
};

bool IsStringType(std::uint32_t type);

// The bytes the "A" functions return for a value: strings converted to the ANSI code page,
// anything else as stored.
Bytes AnsiData(const RegistryValue& value);

class RegistryKey {
  public:
    explicit RegistryKey(std::u16string name) : name_(std::move(name)) {}

    const std::u16string& Name() const { return name_; }

    // nullptr when there is no such subkey.
    std::shared_ptr<RegistryKey> FindSubkey(std::u16string_view name) const;
    // The existing subkey of that name, or a new one.
    std::shared_ptr<RegistryKey> CreateSubkey(std::u16string_view name);
    // Removes the subkey and everything under it; open handles to them see the keys as deleted.
    void DeleteSubkey(std::u16string_view name);
    // Subkeys in enumeration order.
    std::vector<std::shared_ptr<RegistryKey>> Subkeys() const;

    const RegistryValue* FindValue(std::u16string_view name) const;
    void SetValue(std::u16string_view name, std::uint32_t type, Bytes data);
    void DeleteValue(std::u16string_view name);

    bool Deleted() const { return deleted_; }

  private:
    void MarkDeleted();

    std::u16string name_;
    bool deleted_ = false;
    std::map<std::u16string, std::shared_ptr<RegistryKey>> subkeys_; // by upper-cased name
    std::vector<RegistryValue> values_;
};

// Splits a path at its backslashes. A path is invalid (`valid` false) when it
// begins with a backslash or has an empty name inside; one trailing backslash is allowed.
struct KeyPath {
    bool valid = true;
    std::vector<std::u16string> names;
};
KeyPath SplitKeyPath(std::u16string_view path);

// The key at `path` below `from`, or nullptr.
std::shared_ptr<RegistryKey> FindKey(const std::shared_ptr<RegistryKey>& from, const KeyPath& path);
// The key at `path` below `from`, created with any missing parents.
std::shared_ptr<RegistryKey> CreateKey(const std::shared_ptr<RegistryKey>& from, const KeyPath& path);

bool NamesEqual(std::u16string_view a, std::u16string_view b);

// The predefined root keys, by the low bits of their HKEY values (HKEY_CLASSES_ROOT is 0).
class Registry {
  public:
    static constexpr int RootCount = 6;

    Registry();
    // nullptr for a root the machine does not have.
    std::shared_ptr<RegistryKey> Root(std::uint32_t index) const;

  private:
    std::shared_ptr<RegistryKey> roots_[RootCount];
};

} // namespace simulated_windows
