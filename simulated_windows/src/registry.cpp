#include "registry.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace simulated_windows {
namespace {

std::u16string Upcased(std::u16string_view name)
{
    std::u16string upper(name);
    std::transform(upper.begin(), upper.end(), upper.begin(), UpcaseForCompare);
    return upper;
}

struct RootName {
    // cppcheck-suppress unusedStructMember ; read in RootKeyNamed and Registry(), which cppcheck misses
    std::u16string_view full;
    // cppcheck-suppress unusedStructMember ; read in RootKeyNamed, which cppcheck misses
    std::u16string_view abbreviated;
    RootKey root;
};

const std::array<RootName, 5> RootNames = {{
    {u"HKEY_CLASSES_ROOT", u"HKCR", RootKey::ClassesRoot},
    {u"HKEY_CURRENT_USER", u"HKCU", RootKey::CurrentUser},
    {u"HKEY_LOCAL_MACHINE", u"HKLM", RootKey::LocalMachine},
    {u"HKEY_USERS", u"HKU", RootKey::Users},
    {u"HKEY_CURRENT_CONFIG", u"HKCC", RootKey::CurrentConfig},
}};

} // namespace

bool IsStringType(std::uint32_t type)
{
    return type == 1 || type == 2 || type == 7; // REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ
}

RegistryValue::RegistryValue(std::u16string_view name, std::uint32_t type,
                             std::span<const unsigned char> data)
    : block_(std::make_unique_for_overwrite<unsigned char[]>(name.size() * sizeof(char16_t) + data.size())),
      type_(type), nameLength_(static_cast<std::uint32_t>(name.size())),
      dataSize_(static_cast<std::uint32_t>(data.size()))
{
    std::memcpy(block_.get(), name.data(), name.size() * sizeof(char16_t));
    if (!data.empty()) {
        std::memcpy(block_.get() + name.size() * sizeof(char16_t), data.data(), data.size());
    }
}

std::u16string_view RegistryValue::Name() const
{
    // The block comes from new[], aligned for any type, and the name is at its start.
    return {reinterpret_cast<const char16_t*>(block_.get()), nameLength_};
}

std::span<const unsigned char> RegistryValue::Data() const
{
    return {block_.get() + nameLength_ * sizeof(char16_t), dataSize_};
}

bool NamesEqual(std::u16string_view a, std::u16string_view b)
{
    if (a == b) {
        return true; // the common case, and a plain comparison
    }
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
               return UpcaseForCompare(x) == UpcaseForCompare(y);
           });
}

bool KeyNameLess::operator()(std::u16string_view a, std::u16string_view b) const
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char16_t x, char16_t y) {
        return UpcaseForCompare(x) < UpcaseForCompare(y);
    });
}
bool KeyNameLess::operator()(const std::shared_ptr<RegistryKey>& a,
                             const std::shared_ptr<RegistryKey>& b) const
{
    return (*this)(a->Name(), b->Name());
}
bool KeyNameLess::operator()(const std::shared_ptr<RegistryKey>& a, std::u16string_view b) const
{
    return (*this)(a->Name(), b);
}
bool KeyNameLess::operator()(std::u16string_view a, const std::shared_ptr<RegistryKey>& b) const
{
    return (*this)(a, b->Name());
}

RegistryKey::~RegistryKey()
{
    // Children whose last owner this is are emptied before they go, so no destructor below
    // has anything left to recurse into.
    std::vector<std::shared_ptr<RegistryKey>> pending;
    auto adopt = [&](RegistryKey& key) {
        if (!key.subkeys_) {
            return;
        }
        while (!key.subkeys_->empty()) {
            pending.push_back(std::move(key.subkeys_->extract(key.subkeys_->begin()).value()));
        }
    };
    adopt(*this);
    while (!pending.empty()) {
        const std::shared_ptr<RegistryKey> key = std::move(pending.back());
        pending.pop_back();
        if (key.use_count() == 1) {
            adopt(*key);
        }
    }
}

const std::shared_ptr<RegistryKey>& RegistryKey::Resolved(const std::shared_ptr<RegistryKey>& key)
{
    return key->link_ ? key->link_ : key;
}

std::shared_ptr<RegistryKey> RegistryKey::FindSubkey(std::u16string_view name) const
{
    if (!subkeys_) {
        return nullptr;
    }
    const auto found = subkeys_->find(name);
    return found == subkeys_->end() ? nullptr : Resolved(*found);
}

std::shared_ptr<RegistryKey> RegistryKey::CreateSubkey(std::u16string_view name)
{
    if (!subkeys_) {
        subkeys_ = std::make_unique<SubkeySet>();
    }
    // Files and hives give subkeys in order, so a new name most often goes last.
    if (subkeys_->empty() || KeyNameLess()(*subkeys_->rbegin(), name)) {
        return *subkeys_->emplace_hint(subkeys_->end(), std::make_shared<RegistryKey>(std::u16string(name)));
    }
    const auto found = subkeys_->lower_bound(name);
    if (found != subkeys_->end() && NamesEqual((*found)->Name(), name)) {
        return Resolved(*found);
    }
    return *subkeys_->emplace_hint(found, std::make_shared<RegistryKey>(std::u16string(name)));
}

void RegistryKey::DeleteSubkey(std::u16string_view name)
{
    if (subkeys_) {
        if (const auto found = subkeys_->find(name); found != subkeys_->end()) {
            subkeys_->erase(found);
        }
    }
}

std::vector<std::shared_ptr<RegistryKey>> RegistryKey::Subkeys() const
{
    std::vector<std::shared_ptr<RegistryKey>> keys(subkeys_ ? subkeys_->size() : 0);
    if (subkeys_) {
        std::transform(subkeys_->begin(), subkeys_->end(), keys.begin(),
                       [](const auto& key) { return Resolved(key); });
    }
    return keys;
}

std::vector<std::pair<std::u16string_view, std::shared_ptr<RegistryKey>>> RegistryKey::ListedSubkeys() const
{
    std::vector<std::pair<std::u16string_view, std::shared_ptr<RegistryKey>>> keys(subkeys_ ? subkeys_->size()
                                                                                            : 0);
    if (subkeys_) {
        std::transform(subkeys_->begin(), subkeys_->end(), keys.begin(), [](const auto& key) {
            return std::pair(std::u16string_view(key->Name()), Resolved(key));
        });
    }
    return keys;
}

std::shared_ptr<RegistryKey> RegistryKey::LinkSubkey(std::u16string_view name,
                                                     std::shared_ptr<RegistryKey> target)
{
    if (!subkeys_) {
        subkeys_ = std::make_unique<SubkeySet>();
    }
    std::shared_ptr<RegistryKey> replaced;
    if (const auto found = subkeys_->find(name); found != subkeys_->end()) {
        replaced = (*found)->link_ ? nullptr : *found;
        subkeys_->erase(found);
    }
    auto link = std::make_shared<RegistryKey>(std::u16string(name));
    link->link_ = std::move(target);
    subkeys_->insert(std::move(link));
    return replaced;
}

std::size_t RegistryKey::FindSlot(std::u16string_view name) const
{
    if (index_) {
        const auto found = index_->find(Upcased(name));
        return found == index_->end() ? values_.size() : found->second;
    }
    const auto found = std::find_if(values_.begin(), values_.end(), [&](const RegistryValue& value) {
        return NamesEqual(value.Name(), name);
    });
    return static_cast<std::size_t>(found - values_.begin());
}

void RegistryKey::BuildIndex()
{
    index_ = std::make_unique<std::unordered_map<std::u16string, std::size_t>>();
    for (std::size_t slot = 0; slot < values_.size(); ++slot) {
        index_->emplace(Upcased(values_[slot].Name()), slot);
    }
}

std::vector<const RegistryValue*> RegistryKey::Values() const
{
    std::vector<const RegistryValue*> values;
    for (std::size_t slot = 0; slot < values_.size(); ++slot) {
        // A deleted value of an indexed key is a gap that the index no longer leads to.
        if (!index_ || FindSlot(values_[slot].Name()) == slot) {
            values.push_back(&values_[slot]);
        }
    }
    return values;
}

const RegistryValue* RegistryKey::FindValue(std::u16string_view name) const
{
    const std::size_t slot = FindSlot(name);
    return slot == values_.size() ? nullptr : &values_[slot];
}

void RegistryKey::SetValue(std::u16string_view name, std::uint32_t type, std::span<const unsigned char> data)
{
    // An existing value keeps its place (and its name's spelling), as on Windows.
    if (const std::size_t slot = FindSlot(name); slot != values_.size()) {
        values_[slot] = RegistryValue(values_[slot].Name(), type, data);
        return;
    }
    values_.emplace_back(name, type, data);
    // A scan beats a hash for the handful of values most keys have.
    const std::size_t scannedUpTo = 16;
    if (index_) {
        index_->emplace(Upcased(name), values_.size() - 1);
    } else if (values_.size() > scannedUpTo) {
        BuildIndex();
    }
}

void RegistryKey::DeleteValue(std::u16string_view name)
{
    const std::size_t slot = FindSlot(name);
    if (slot == values_.size()) {
        return;
    }
    if (!index_) {
        values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(slot)); // a short scan's worth
        return;
    }
    index_->erase(Upcased(name));
    values_[slot] = RegistryValue{};
}

void SplitKeyPath(std::u16string_view path, KeyPath& into)
{
    into.valid = true;
    std::size_t count = 0;
    // Backslashes after the last name name nothing: Windows opens and creates "Key\\" as "Key"
    // (Wine's advapi32 registry tests, test_reg_open_key and test_reg_create_key, which pass on
    // Windows). Of a path of backslashes alone one is dropped, so that "\" names the key itself.
    if (const std::size_t last = path.find_last_not_of(u'\\'); last != std::u16string_view::npos) {
        path = path.substr(0, last + 1);
    } else if (!path.empty()) {
        path.remove_suffix(1);
    }
    for (std::size_t start = 0; !path.empty();) {
        const std::size_t end = path.find(u'\\', start);
        const std::u16string_view name = path.substr(start, end - start);
        if (name.empty()) {
            into.valid = false;
            break;
        }
        // The strings of a reused path are assigned to, not made anew.
        if (count < into.names.size()) {
            into.names[count].assign(name);
        } else {
            into.names.emplace_back(name);
        }
        ++count;
        if (end == std::u16string_view::npos) {
            break;
        }
        start = end + 1;
    }
    into.names.resize(into.valid ? count : 0);
}

KeyPath SplitKeyPath(std::u16string_view path)
{
    KeyPath result;
    SplitKeyPath(path, result);
    return result;
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

std::optional<RootKey> RootKeyNamed(std::u16string_view name)
{
    const auto found = std::find_if(RootNames.begin(), RootNames.end(), [&](const RootName& candidate) {
        return NamesEqual(candidate.full, name) || NamesEqual(candidate.abbreviated, name);
    });
    return found == RootNames.end() ? std::nullopt : std::optional<RootKey>(found->root);
}

Registry::Registry()
{
    for (const auto& rootName : RootNames) {
        roots_[static_cast<std::uint32_t>(rootName.root)] =
            std::make_shared<RegistryKey>(std::u16string(rootName.full));
    }
}

std::shared_ptr<RegistryKey> Registry::Root(RootKey root) const
{
    const auto number = static_cast<std::uint32_t>(root);
    return number < RootKeyNumbers ? roots_[number] : nullptr;
}

std::string KeyTooDeep()
{
    return "key nested more than " + std::to_string(MaxKeyDepth) + " levels deep";
}

std::string KeyNameTooLong(std::u16string_view name)
{
    return "key name longer than " + std::to_string(MaxKeyNameLength) + " characters: " + QuotedText(name);
}

std::string ValueNameTooLong(std::u16string_view name)
{
    return "value name longer than " + std::to_string(MaxValueNameLength) +
           " characters: " + QuotedText(name);
}

std::string KeyPathTooLong()
{
    return "key path longer than Windows allows (" + std::to_string(MaxKeyDepth) + " names of at most " +
           std::to_string(MaxKeyNameLength) + " characters)";
}

std::string KeyNameFault(std::u16string_view name)
{
    if (name.find(u'\0') != std::u16string_view::npos) {
        return "key name holding a NUL: " + QuotedText(name);
    }
    if (name.find(u'\\') != std::u16string_view::npos) {
        return "key name holding a backslash: " + QuotedText(name);
    }
    if (name.find_first_of(u"\r\n") != std::u16string_view::npos) {
        return "key name holding a line break: " + QuotedText(name);
    }
    return name.size() > MaxKeyNameLength ? KeyNameTooLong(name) : std::string();
}

std::string ValueNameFault(std::u16string_view name)
{
    if (name.find(u'\0') != std::u16string_view::npos) {
        return "value name holding a NUL: " + QuotedText(name);
    }
    return name.size() > MaxValueNameLength ? ValueNameTooLong(name) : std::string();
}

} // namespace simulated_windows
