#include "hive_walk.h"

#include "code_page.h"
#include "simulated_windows/win32_api.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <type_traits>
#include <vector>

namespace simulated_windows {
namespace {

// hivex hands out malloc'd names, lists and data.
struct Free {
    void operator()(void* memory) const { std::free(memory); }
};
template <typename T> using Owned = std::unique_ptr<T, Free>;

// A value's type as the hive stores it: any 32-bit number, where hivex's enum names only the
// types Windows defines. Kept in an integer, never read as the enum.
using RawType = std::underlying_type_t<hive_type>;
static_assert(sizeof(RawType) == sizeof(std::uint32_t));
hive_type* TypeOut(RawType& type)
{
    return reinterpret_cast<hive_type*>(&type);
}

// The regf layout (Maxim Suhanov's public notes on the format, github.com/msuhanov/regf): cells are named by
// their offset from the first hive bin, which starts 4096 bytes into the file; a cell starts with
// its size, negative while it is in use, then its two-letter signature. Offsets below are from a
// cell's start, its size included.
constexpr std::size_t FirstBin = 0x1000;
constexpr std::size_t KeyFields = 0x4C;   // a key node's fields after the size, before its name
constexpr std::size_t KeySubkeys = 0x18;  // its number of subkeys
constexpr std::size_t KeyList = 0x20;     // its subkey list
constexpr std::size_t ValueFields = 0x14; // a value's fields after the size, before its name
constexpr std::size_t ValueSize = 0x08;   // its data size; the top bit set: data in the record
constexpr std::size_t ValueData = 0x0C;   // its data cell
constexpr std::uint32_t DataInRecord = 0x80000000;

std::uint32_t DoubleWord(std::string_view bytes, std::size_t at)
{
    std::uint32_t word = 0;
    std::memcpy(&word, bytes.data() + at, 4);
    return word;
}

std::uint16_t Word(std::string_view bytes, std::size_t at)
{
    std::uint16_t word = 0;
    std::memcpy(&word, bytes.data() + at, 2);
    return word;
}

const char* const KeyTwice = "a key is reached twice through subkey lists";
const char* const DataTwice = "two values share their data";

class Walk {
  public:
    Walk(hive_h* hive, std::string_view bytes, const std::string& fileName)
        : hive_(hive), bytes_(bytes), fileName_(fileName), reached_(bytes.size() / 4 + 1),
          dataLeft_(bytes.size())
    {
    }

    [[noreturn]] void Fail(const std::string& reason) const { throw RefusedInput(fileName_, 0, reason); }
    [[noreturn]] void Damaged(const char* what) const
    {
        Fail(std::string("a damaged hive: hivex cannot read ") + what + ": " + std::strerror(errno));
    }

    hive_node_h Root() const
    {
        const hive_node_h root = hivex_root(hive_);
        if (root == 0) {
            Damaged("its root key");
        }
        return root;
    }

    std::u16string CurrentControlSet(hive_node_h root) const
    {
        const hive_node_h select = FindChild(root, "Select");
        if (select == 0) {
            Fail("not a SYSTEM hive: it has no Select key");
        }
        const Owned<hive_value_h> values(Values(select));
        const hive_value_h* current = values.get();
        while (*current != 0 && strcasecmp(ValueName(*current).get(), "Current") != 0) {
            ++current;
        }
        // Its size is looked at before its data is read: what a value declares may be large.
        RawType type = 0;
        std::size_t length = 0;
        const bool dword = *current != 0 && hivex_value_type(hive_, *current, TypeOut(type), &length) == 0 &&
                           type == REG_DWORD && length == 4;
        const Owned<char> data(dword ? Data(*current, type, length) : nullptr);
        if (!data || type != REG_DWORD || length != 4) {
            Fail("not a SYSTEM hive: Select has no DWORD value Current");
        }
        std::uint32_t number = 0;
        std::memcpy(&number, data.get(), 4);
        char name[32];
        std::snprintf(name, sizeof name, "ControlSet%03u", static_cast<unsigned>(number));
        if (FindChild(root, name) == 0) {
            Fail("not a SYSTEM hive: Select\\Current is " + std::to_string(number) +
                 ", but the hive has no " + name);
        }
        return AnsiToUtf16(name);
    }

    // Level by level, not by recursion: a hive is as deep as its bytes make it, and Windows refuses
    // keys deeper than MaxKeyDepth below their root key.
    void CopyTree(hive_node_h root, const std::shared_ptr<RegistryKey>& into)
    {
        struct Pending {
            hive_node_h node;
            std::shared_ptr<RegistryKey> key;
            std::size_t depth;
        };
        FirstReach(root, KeyTwice);
        std::vector<Pending> pending{{root, into, 1}};
        while (!pending.empty()) {
            const Pending next = std::move(pending.back());
            pending.pop_back();
            CopyValues(next.node, *next.key);
            const Owned<hive_node_h> children(Children(next.node));
            for (const hive_node_h* child = children.get(); *child != 0; ++child) {
                if (next.depth + 1 > MaxKeyDepth) {
                    Fail("key nested more than 512 levels deep");
                }
                const std::u16string name = NodeName(*child);
                if (next.node == root && NamesEqual(name, u"CurrentControlSet")) {
                    continue;
                }
                FirstReach(*child, KeyTwice);
                pending.push_back({*child, next.key->CreateSubkey(name), next.depth + 1});
            }
        }
    }

  private:
    // The size of the cell in use at `cell`, or 0 when there is none there within the file. Offsets
    // are looked at before hivex checks that a cell starts there.
    std::size_t CellSize(std::size_t cell) const
    {
        if (cell > bytes_.size() - 4) {
            return 0;
        }
        const auto declared = static_cast<std::int32_t>(DoubleWord(bytes_, cell));
        const auto size = static_cast<std::size_t>(declared < 0 ? -std::int64_t{declared} : 0);
        return size <= bytes_.size() - cell ? size : 0;
    }

    // A cell hivex accepted (it refuses a cell that runs past its bin), checked to hold `fields`
    // bytes after its size.
    void RequireCell(std::size_t cell, std::size_t fields, const char* what) const
    {
        if (CellSize(cell) < 4 + fields) {
            Fail("a damaged hive: " + std::string(what) + " is too short for its fields");
        }
    }

    // A list cell, checked to hold the `count` entries it declares after a header of `header` bytes.
    void RequireList(std::size_t cell, std::size_t header, std::size_t count, std::size_t entrySize) const
    {
        const std::size_t size = CellSize(cell);
        if (size != 0 && size < 4 + header + count * entrySize) {
            Fail("a damaged hive: a list declares more entries than its cell holds");
        }
    }

    // A key, value or data cell reached a second time would be read again, and again for every way
    // there is to it: a list that names a key twice doubles the keys below it at each level.
    void FirstReach(std::size_t cell, const char* twice)
    {
        if (cell / 4 >= reached_.size()) {
            return; // not a cell: hivex refuses it
        }
        if (reached_[cell / 4]) {
            Fail(std::string("a damaged hive: ") + twice);
        }
        reached_[cell / 4] = true;
    }

    // hivex checks a leaf's count against its cell, but neither an index root's count nor the counts
    // of the leaves it names.
    Owned<hive_node_h> Children(hive_node_h node, const char* what = "the subkeys of a key") const
    {
        RequireCell(node, KeyFields, "a key's record");
        const std::size_t list = FirstBin + std::size_t{DoubleWord(bytes_, node + KeyList)};
        if (DoubleWord(bytes_, node + KeySubkeys) != 0 && CellSize(list) >= 8 &&
            bytes_.substr(list + 4, 2) == "ri") {
            const std::size_t count = Word(bytes_, list + 6);
            RequireList(list, 4, count, 4);
            for (std::size_t i = 0; i < count; ++i) {
                const std::size_t leaf = FirstBin + std::size_t{DoubleWord(bytes_, list + 8 + 4 * i)};
                if (CellSize(leaf) >= 8) {
                    RequireList(leaf, 4, Word(bytes_, leaf + 6), 8);
                }
            }
        }
        errno = 0;
        Owned<hive_node_h> children(hivex_node_children(hive_, node));
        if (!children) {
            Damaged(what);
        }
        return children;
    }

    std::u16string NodeName(hive_node_h node) const
    {
        RequireCell(node, KeyFields, "a key's record");
        const Owned<char> name(hivex_node_name(hive_, node));
        if (!name) {
            Damaged("the name of a key");
        }
        return Utf8ToUtf16(name.get());
    }

    // The subkey of that ASCII name, in any case, or 0.
    hive_node_h FindChild(hive_node_h node, const char* name) const
    {
        const Owned<hive_node_h> children(Children(node, "its keys"));
        const std::u16string wanted = AnsiToUtf16(name);
        for (const hive_node_h* child = children.get(); *child != 0; ++child) {
            if (NamesEqual(NodeName(*child), wanted)) {
                return *child;
            }
        }
        return 0;
    }

    Owned<hive_value_h> Values(hive_node_h node) const
    {
        RequireCell(node, KeyFields, "a key's record");
        errno = 0;
        Owned<hive_value_h> values(hivex_node_values(hive_, node));
        if (!values) {
            Damaged("the values of a key");
        }
        return values;
    }

    Owned<char> ValueName(hive_value_h value) const
    {
        RequireCell(value, ValueFields, "a value's record");
        Owned<char> name(hivex_value_key(hive_, value));
        if (!name) {
            Damaged("a value");
        }
        return name;
    }

    // The block list of a value whose data is big data (a "db" record naming its segments), checked
    // to hold the segments the record declares; 0 for other data.
    std::size_t BlockList(hive_value_h value) const
    {
        const std::uint32_t size = DoubleWord(bytes_, value + ValueSize);
        const std::size_t data = FirstBin + std::size_t{DoubleWord(bytes_, value + ValueData)};
        const std::size_t cell = CellSize(data);
        // hivex reads as big data what does not fit the data cell.
        if ((size & DataInRecord) != 0 || cell < 8 || size <= cell - 4 ||
            bytes_.substr(data + 4, 2) != "db") {
            return 0;
        }
        RequireCell(data, 8, "a big data record");
        const std::size_t list = FirstBin + std::size_t{DoubleWord(bytes_, data + 8)};
        RequireList(list, 0, Word(bytes_, data + 6), 4);
        return list;
    }

    // Owned by the caller, or nullptr with errno set.
    char* Data(hive_value_h value, RawType& type, std::size_t& length) const
    {
        RequireCell(value, ValueFields, "a value's record");
        BlockList(value);
        errno = 0;
        return hivex_value_value(hive_, value, TypeOut(type), &length);
    }

    void CopyValues(hive_node_h node, RegistryKey& key)
    {
        const Owned<hive_value_h> values(Values(node));
        for (const hive_value_h* value = values.get(); *value != 0; ++value) {
            FirstReach(*value, "a value is reached twice through value lists");
            const Owned<char> name(ValueName(*value));
            const std::uint32_t size = DoubleWord(bytes_, *value + ValueSize);
            if ((size & DataInRecord) == 0 && size != 0) {
                FirstReach(FirstBin + std::size_t{DoubleWord(bytes_, *value + ValueData)}, DataTwice);
                if (const std::size_t list = BlockList(*value); list != 0) {
                    FirstReach(list, DataTwice);
                }
                // Big data segments may still be shared: what they add up to is bounded here.
                if (size > dataLeft_) {
                    Fail("a damaged hive: its values hold more data than the file has bytes (" +
                         std::to_string(bytes_.size()) + ")");
                }
                dataLeft_ -= size;
            }
            RawType type = 0;
            std::size_t length = 0;
            const Owned<char> data(Data(*value, type, length));
            if (!data && length != 0) {
                Damaged("a value");
            }
            const auto* bytes = reinterpret_cast<const unsigned char*>(data.get());
            key.SetValue(Utf8ToUtf16(name.get()), type,
                         bytes != nullptr ? std::span<const unsigned char>(bytes, length)
                                          : std::span<const unsigned char>());
        }
    }

    hive_h* hive_;
    std::string_view bytes_;
    const std::string& fileName_;
    std::vector<bool> reached_; // by a cell's offset in the file, in units of 4 bytes
    std::size_t dataLeft_;
};

} // namespace

std::u16string CopySystemHive(hive_h* hive, std::string_view bytes, const std::string& fileName,
                              const std::shared_ptr<RegistryKey>& system)
{
    Walk walk(hive, bytes, fileName);
    const hive_node_h root = walk.Root();
    std::u16string controlSet = walk.CurrentControlSet(root);
    walk.CopyTree(root, system);
    return controlSet;
}

} // namespace simulated_windows
