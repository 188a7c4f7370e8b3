#include "simulated_windows/registry.h"

#include <algorithm>

namespace simulated_windows {
namespace {

std::u16string Upcased(std::u16string_view name)
{
    std::u16string upper(name);
    std::transform(upper.begin(), upper.end(), upper.begin(), UpcaseForCompare);
    return upper;
}

} // namespace

bool IsStringType(std::uint32_t type)
{
    return type == 1 || type == 2 || type == 7; // REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ
}

Bytes AnsiData(const RegistryValue& value)
{
    if (!IsStringType(value.type)) {
        return value.data;
    }
    const std::string ansi = Utf16ToAnsi(Utf16FromBytes(value.data.data(), value.data.size()));
    return Bytes(ansi.begin(), ansi.end());
}

bool NamesEqual(std::u16string_view a, std::u16string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
               return UpcaseForCompare(x) == UpcaseForCompare(y);
           });
}

std::shared_ptr<RegistryKey> RegistryKey::FindSubkey(std::u16string_view name) const
{
    const auto found = subkeys_.find(Upcased(name));
    return found == subkeys_.end() ? nullptr : found->second;
}

std::shared_ptr<RegistryKey> RegistryKey::CreateSubkey(std::u16string_view name)
{
    auto& slot = subkeys_[Upcased(name)];
    if (!slot) {
        slot = std::make_shared<RegistryKey>(std::u16string(name));
    }
    return slot;
}

void RegistryKey::DeleteSubkey(std::u16string_view name)
{
    const auto found = subkeys_.find(Upcased(name));
    if (found != subkeys_.end()) {
        found->second->MarkDeleted();
        subkeys_.erase(found);
    }
}

std::vector<std::shared_ptr<RegistryKey>> RegistryKey::Subkeys() const
{
    std::vector<std::shared_ptr<RegistryKey>> keys(subkeys_.size());
    std::transform(subkeys_.begin(), subkeys_.end(), keys.begin(),
                   [](const auto& entry) { return entry.second; });
    return keys;
}

void RegistryKey::MarkDeleted()
{
    deleted_ = true;
    for (auto& entry : subkeys_) {
        entry.second->MarkDeleted();
    }
}

const RegistryValue* RegistryKey::FindValue(std::u16string_view name) const
{
    const auto found = std::find_if(values_.begin(), values_.end(),
                                    [&](const RegistryValue& v) { return NamesEqual(v.name, name); });
    return found == values_.end() ? nullptr : &*found;
}

void RegistryKey::SetValue(std::u16string_view name, std::uint32_t type, Bytes data)
{
    // An existing value keeps its place (and its name's spelling), as on Windows.
    const auto existing = std::find_if(values_.begin(), values_.end(),
                                       [&](const RegistryValue& v) { return NamesEqual(v.name, name); });
    if (existing == values_.end()) {
        values_.push_back(RegistryValue{std::u16string(name), type, std::move(data)});
        return;
    }
    existing->type = type;
    existing->data = std::move(data);
}

void RegistryKey::DeleteValue(std::u16string_view name)
{
    std::erase_if(values_, [&](const RegistryValue& v) { return NamesEqual(v.name, name); });
}

KeyPath SplitKeyPath(std::u16string_view path)
{
    KeyPath result;
    if (!path.empty() && path.back() == u'\\') {
        path.remove_suffix(1);
    }
    if (path.empty()) {
        return result;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find(u'\\', start);
        const std::u16string_view name = path.substr(start, end - start);
        if (name.empty()) {
            result.valid = false;
            return result;
        }
        result.names.emplace_back(name);
        if (end == std::u16string_view::npos) {
            return result;
        }
        start = end + 1;
    }
}

std::shared_ptr<RegistryKey> FindKey(const std::shared_ptr<RegistryKey>& from, const KeyPath& path)
{
    std::shared_ptr<RegistryKey> key = from;
    for (const auto& name : path.names) {
        if (!key) {
            return nullptr;
        }
        key = key->FindSubkey(name);
    }
    return key;
}

std::shared_ptr<RegistryKey> CreateKey(const std::shared_ptr<RegistryKey>& from, const KeyPath& path)
{
    std::shared_ptr<RegistryKey> key = from;
    for (const auto& name : path.names) {
        key = key->CreateSubkey(name);
    }
    return key;
}

Registry::Registry()
{
    // HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, (performance data:
    // none), HKEY_CURRENT_CONFIG.
    static const char16_t* const names[RootCount] = {
        u"HKEY_CLASSES_ROOT",  u"HKEY_CURRENT_USER", u"HKEY_LOCAL_MACHINE", u"HKEY_USERS", nullptr,
        u"HKEY_CURRENT_CONFIG"};
    for (int i = 0; i < RootCount; ++i) {
        if (names[i] != nullptr) {
            roots_[i] = std::make_shared<RegistryKey>(names[i]);
        }
    }
}

std::shared_ptr<RegistryKey> Registry::Root(std::uint32_t index) const
{
    return index < RootCount ? roots_[index] : nullptr;
}

} // namespace simulated_windows
