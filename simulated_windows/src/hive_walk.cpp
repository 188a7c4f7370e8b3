#include "hive_walk.h"

#include "code_page.h"
#include "hive_cells.h"
#include "regf_layout.h"
#include "simulated_windows/refused_input.h"
#include "simulated_windows/win32_api.h"

#include <cstring>
#include <type_traits>
#include <vector>

namespace simulated_windows {
namespace {

// A value's type as the hive stores it: any 32-bit number, where hivex's enum names only the
// types Windows defines. Kept in an integer, never read as the enum.
static_assert(sizeof(std::underlying_type_t<hive_type>) == sizeof(std::uint32_t));
hive_type* TypeOut(std::uint32_t& type)
{
    return reinterpret_cast<hive_type*>(&type);
}

std::string Damaged(const std::string& reason)
{
    return "a damaged hive: " + reason;
}

// The copy of a hive's tree, which reaches each cell once.
class HiveCopy {
  public:
    explicit HiveCopy(const HiveReader& hive)
        : hive_(hive), reached_(hive.Bytes().size() / 4 + 1), dataLeft_(hive.Bytes().size())
    {
    }

    // Level by level, not by recursion: a hive is as deep as its bytes make it.
    void Copy(const std::shared_ptr<RegistryKey>& into, std::size_t depth, std::u16string_view passOver)
    {
        struct Pending {
            hive_node_h node;
            std::shared_ptr<RegistryKey> key;
            std::size_t depth;
        };
        const hive_node_h root = hive_.Root();
        FirstReach(root, KeyTwice);
        std::vector<Pending> pending{{root, into, depth}};
        while (!pending.empty()) {
            const Pending next = std::move(pending.back());
            pending.pop_back();
            CopyValues(next.node, *next.key);
            const HivexOwned<hive_node_h> children(hive_.Children(next.node));
            for (const hive_node_h* child = children.get(); *child != 0; ++child) {
                if (next.depth + 1 > MaxKeyDepth) {
                    hive_.Fail(KeyTooDeep());
                }
                const std::u16string name = hive_.NodeName(*child);
                if (next.node == root && !passOver.empty() && NamesEqual(name, passOver)) {
                    continue;
                }
                FirstReach(*child, KeyTwice);
                pending.push_back({*child, next.key->CreateSubkey(name), next.depth + 1});
            }
        }
    }

  private:
    static constexpr const char* KeyTwice = "a key is reached twice through subkey lists";
    static constexpr const char* DataTwice = "two values share their data";

    // A key, value or data cell reached a second time would be read again, and again for every way
    // there is to it: a list that names a key twice doubles the keys below it at each level.
    void FirstReach(std::size_t cell, const char* twice)
    {
        if (cell / 4 >= reached_.size()) {
            return; // not a cell: hivex refuses it
        }
        if (reached_[cell / 4]) {
            hive_.Fail(Damaged(twice));
        }
        reached_[cell / 4] = true;
    }

    void CopyValues(hive_node_h node, RegistryKey& key)
    {
        const std::string_view bytes = hive_.Bytes();
        const HivexOwned<hive_value_h> values(hive_.Values(node));
        for (const hive_value_h* value = values.get(); *value != 0; ++value) {
            FirstReach(*value, "a value is reached twice through value lists");
            const std::u16string name = hive_.ValueName(*value);
            const std::uint32_t size = regf::Read32(bytes, *value + regf::value::Size);
            if ((size & regf::value::DataInRecord) == 0 && size != 0) {
                FirstReach(regf::FirstBin + std::size_t{regf::Read32(bytes, *value + regf::value::Data)},
                           DataTwice);
                if (const std::size_t list = hive_.BigDataSegments(*value); list != 0) {
                    FirstReach(list, DataTwice);
                }
                // Big data segments may still be shared: what they add up to is bounded here.
                if (size > dataLeft_) {
                    hive_.Fail(Damaged("its values hold more data than the file has bytes (" +
                                       std::to_string(bytes.size()) + ")"));
                }
                dataLeft_ -= size;
            }
            std::uint32_t type = 0;
            std::size_t length = 0;
            const HivexOwned<char> data(hive_.Data(*value, type, length));
            if (!data && length != 0) {
                hive_.Fail(Damaged("hivex cannot read a value"));
            }
            const auto* read = reinterpret_cast<const unsigned char*>(data.get());
            key.SetValue(name, type,
                         read != nullptr ? std::span<const unsigned char>(read, length)
                                         : std::span<const unsigned char>());
        }
    }

    const HiveReader& hive_;
    std::vector<bool> reached_; // by a cell's offset in the file, in units of 4 bytes
    std::size_t dataLeft_;
};

} // namespace

void HiveReader::Fail(const std::string& reason) const
{
    throw RefusedInput(fileName_, 0, reason);
}

void HiveReader::RequireCell(std::size_t cell, std::size_t fields, const char* what) const
{
    if (!CellHolds(bytes_, cell, fields)) {
        Fail(Damaged(std::string(what) + " is too short for its fields"));
    }
}

std::u16string HiveReader::CountedName(HivexOwned<char> name, std::size_t length, const char* what,
                                       std::string (*fault)(std::u16string_view)) const
{
    if (!name || length < std::strlen(name.get())) {
        Fail(Damaged(std::string("hivex cannot read ") + what));
    }
    // hivex gives the name in UTF-8 ended by a NUL, and its length apart: a name holding a NUL is
    // read whole, to be refused, never taken for the name before it.
    std::u16string wide = Utf8ToUtf16(std::string_view(name.get(), length));
    if (const std::string reason = fault(wide); !reason.empty()) {
        // Past a limit, the message every loader gives; a character no Windows name holds, a
        // damage.
        Fail(reason == KeyNameTooLong(wide) || reason == ValueNameTooLong(wide) ? reason : Damaged(reason));
    }
    return wide;
}

hive_node_h HiveReader::Root() const
{
    const hive_node_h root = hivex_root(hive_);
    if (root == 0) {
        Fail(Damaged("hivex cannot read its root key"));
    }
    return root;
}

HivexOwned<hive_node_h> HiveReader::Children(hive_node_h node, const char* what) const
{
    RequireCell(node, regf::key::Fields, "a key's record");
    if (const char* fault = IndexRootFault(bytes_, node)) {
        Fail(Damaged(fault));
    }
    HivexOwned<hive_node_h> children(hivex_node_children(hive_, node));
    if (!children) {
        Fail(Damaged(std::string("hivex cannot read ") + what));
    }
    return children;
}

std::u16string HiveReader::NodeName(hive_node_h node) const
{
    RequireCell(node, regf::key::Fields, "a key's record");
    HivexOwned<char> name(hivex_node_name(hive_, node));
    const std::size_t length = name ? hivex_node_name_len(hive_, node) : 0;
    return CountedName(std::move(name), length, "the name of a key", KeyNameFault);
}

hive_node_h HiveReader::FindChild(hive_node_h node, std::u16string_view name) const
{
    const HivexOwned<hive_node_h> children(Children(node, "its keys"));
    for (const hive_node_h* child = children.get(); *child != 0; ++child) {
        if (NamesEqual(NodeName(*child), name)) {
            return *child;
        }
    }
    return 0;
}

HivexOwned<hive_value_h> HiveReader::Values(hive_node_h node) const
{
    RequireCell(node, regf::key::Fields, "a key's record");
    HivexOwned<hive_value_h> values(hivex_node_values(hive_, node));
    if (!values) {
        Fail(Damaged("hivex cannot read the values of a key"));
    }
    return values;
}

std::u16string HiveReader::ValueName(hive_value_h value) const
{
    RequireCell(value, regf::value::Fields, "a value's record");
    HivexOwned<char> name(hivex_value_key(hive_, value));
    const std::size_t length = name ? hivex_value_key_len(hive_, value) : 0;
    return CountedName(std::move(name), length, "a value", ValueNameFault);
}

std::size_t HiveReader::BigDataSegments(hive_value_h value) const
{
    const BigDataList list = BigDataListOf(bytes_, value);
    if (list.fault != nullptr) {
        Fail(Damaged(list.fault));
    }
    return list.cell;
}

HivexOwned<char> HiveReader::Data(hive_value_h value, std::uint32_t& type, std::size_t& length) const
{
    RequireCell(value, regf::value::Fields, "a value's record");
    BigDataSegments(value);
    return HivexOwned<char>(hivex_value_value(hive_, value, TypeOut(type), &length));
}

std::optional<std::uint32_t> HiveReader::DwordValue(hive_node_h node, std::u16string_view name) const
{
    const HivexOwned<hive_value_h> values(Values(node));
    const hive_value_h* found = values.get();
    while (*found != 0 && !NamesEqual(ValueName(*found), name)) {
        ++found;
    }
    std::uint32_t type = 0;
    std::size_t length = 0;
    if (*found == 0 || hivex_value_type(hive_, *found, TypeOut(type), &length) != 0 || type != REG_DWORD ||
        length != 4) {
        return std::nullopt;
    }
    const HivexOwned<char> data(Data(*found, type, length));
    if (!data || type != REG_DWORD || length != 4) {
        return std::nullopt;
    }
    return regf::Read32({data.get(), 4}, 0);
}

void CopyHive(const HiveReader& hive, const std::shared_ptr<RegistryKey>& into, std::size_t depth,
              std::u16string_view passOver)
{
    HiveCopy(hive).Copy(into, depth, passOver);
}

} // namespace simulated_windows
