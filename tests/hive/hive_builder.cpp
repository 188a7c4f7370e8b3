#include "hive/hive_builder.h"

#include "regf_layout.h"

#include <hivex.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace sim = simulated_windows;

namespace hive_builder {
namespace {

namespace regf = sim::regf;

void Put32(std::string& bytes, std::size_t at, std::uint32_t value)
{
    regf::Write32(bytes, at, value);
}

std::uint32_t Get32(const std::string& bytes, std::size_t at)
{
    return regf::Read32(bytes, at);
}

void Put16(std::string& bytes, std::size_t at, std::uint16_t value)
{
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

void PutText(std::string& bytes, std::size_t at, const char* text)
{
    std::memcpy(&bytes[at], text, std::strlen(text));
}

[[noreturn]] void Fail(const std::string& what)
{
    throw std::runtime_error("hivex: " + what + ": " + std::strerror(errno));
}

struct HiveClose {
    void operator()(hive_h* hive) const { hivex_close(hive); }
};

// Copies `key`'s values and, level by level, its subkeys below `node`.
void CopyTree(hive_h* hive, const std::shared_ptr<sim::RegistryKey>& key, hive_node_h node)
{
    std::vector<std::pair<std::shared_ptr<sim::RegistryKey>, hive_node_h>> pending{{key, node}};
    while (!pending.empty()) {
        const auto [from, into] = pending.back();
        pending.pop_back();
        std::vector<std::string> names;
        std::vector<hive_set_value> values;
        const auto stored = from->Values();
        names.reserve(stored.size());
        for (const sim::RegistryValue* value : stored) {
            names.push_back(Utf8(std::u16string(value->Name())));
            hive_set_value set{names.back().data(), hive_t_REG_NONE, value->Data().size(),
                               const_cast<char*>(reinterpret_cast<const char*>(value->Data().data()))};
            // Any 32-bit type, where hivex's enum names only Windows' own: copied, never converted.
            const std::uint32_t type = value->Type();
            std::memcpy(&set.t, &type, sizeof set.t);
            values.push_back(set);
        }
        if (hivex_node_set_values(hive, into, values.size(), values.data(), 0) != 0) {
            Fail("setting values");
        }
        for (const auto& child : from->Subkeys()) {
            const hive_node_h added = hivex_node_add_child(hive, into, Utf8(child->Name()).c_str());
            if (added == 0) {
                Fail("adding a key");
            }
            pending.emplace_back(child, added);
        }
    }
}

} // namespace

std::string EmptyHive(const char* rootName)
{
    const std::size_t nameLength = std::strlen(rootName);
    if (nameLength > 8) {
        throw std::runtime_error("hive_builder: a root name of more than 8 characters");
    }
    const std::size_t block = 0x1000;
    std::string bytes(2 * block, '\0');
    // The base block.
    PutText(bytes, 0x00, "regf");
    Put32(bytes, 0x04, 1);     // primary sequence number
    Put32(bytes, 0x08, 1);     // secondary sequence number, equal: no write in progress
    Put32(bytes, 0x14, 1);     // major version
    Put32(bytes, 0x18, 3);     // minor version
    Put32(bytes, 0x1C, 0);     // a primary file
    Put32(bytes, 0x20, 1);     // direct memory load
    Put32(bytes, 0x24, 0x20);  // the root key's cell, relative to the first bin
    Put32(bytes, 0x28, block); // size of the bins
    Put32(bytes, 0x2C, 1);     // clustering factor
    Put32(bytes, regf::base::Checksum, regf::BaseBlockChecksum(bytes));

    // One bin: its header, then the root key, its security cell and the free rest.
    const std::size_t bin = block;
    PutText(bytes, bin, "hbin");
    Put32(bytes, bin + 0x04, 0);
    Put32(bytes, bin + 0x08, block);
    const std::size_t root = bin + 0x20;
    const std::size_t security = root + 88;
    const std::size_t freeCell = security + 48;
    Put32(bytes, root, static_cast<std::uint32_t>(-88)); // allocated cells have negative sizes
    PutText(bytes, root + 0x04, "nk");
    Put16(bytes, root + 0x06, 0x2C); // hive entry, not deletable, ASCII name
    Put32(bytes, root + 0x18, 0);    // subkeys
    Put32(bytes, root + 0x20, 0xFFFFFFFF);
    Put32(bytes, root + 0x24, 0xFFFFFFFF);
    Put32(bytes, root + 0x28, 0); // values
    Put32(bytes, root + 0x2C, 0xFFFFFFFF);
    Put32(bytes, root + 0x30, static_cast<std::uint32_t>(security - bin));
    Put32(bytes, root + 0x34, 0xFFFFFFFF); // no class name
    Put16(bytes, root + 0x4C, static_cast<std::uint16_t>(nameLength));
    PutText(bytes, root + 0x50, rootName);
    Put32(bytes, security, static_cast<std::uint32_t>(-48));
    PutText(bytes, security + 0x04, "sk");
    Put32(bytes, security + 0x08, static_cast<std::uint32_t>(security - bin)); // a list of itself alone
    Put32(bytes, security + 0x0C, static_cast<std::uint32_t>(security - bin));
    Put32(bytes, security + 0x10, 1);  // referenced by the root key
    Put32(bytes, security + 0x14, 20); // a self-relative descriptor with nothing in it
    bytes[security + 0x18] = 1;
    Put16(bytes, security + 0x1A, 0x8000);
    Put32(bytes, freeCell, static_cast<std::uint32_t>(2 * block - freeCell));
    return bytes;
}

void WriteSystemHive(const std::string& path, const sim::Registry& machine, std::uint32_t controlSet)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << EmptyHive();
    std::unique_ptr<hive_h, HiveClose> hive(hivex_open(path.c_str(), HIVEX_OPEN_WRITE));
    if (!hive) {
        Fail("opening the empty hive");
    }
    const hive_node_h root = hivex_root(hive.get());
    const auto system = machine.Root(sim::RootKey::LocalMachine)->FindSubkey(u"SYSTEM");
    char name[32];
    std::snprintf(name, sizeof name, "ControlSet%03u", static_cast<unsigned>(controlSet));
    for (const auto& child : system ? system->Subkeys() : std::vector<std::shared_ptr<sim::RegistryKey>>{}) {
        const bool current = sim::NamesEqual(child->Name(), u"CurrentControlSet");
        const hive_node_h added =
            hivex_node_add_child(hive.get(), root, current ? name : Utf8(child->Name()).c_str());
        if (added == 0) {
            Fail("adding a key");
        }
        CopyTree(hive.get(), child, added);
    }
    if (hivex_node_get_child(hive.get(), root, "Select") == 0) {
        const hive_node_h select = hivex_node_add_child(hive.get(), root, "Select");
        char current[4];
        std::memcpy(current, &controlSet, 4);
        hive_set_value value{const_cast<char*>("Current"), hive_t_REG_DWORD, 4, current};
        if (select == 0 || hivex_node_set_value(hive.get(), select, &value, 0) != 0) {
            Fail("adding Select");
        }
    }
    if (hivex_commit(hive.get(), path.c_str(), 0) != 0) {
        Fail("writing the hive");
    }
}

void WriteSubtreeHive(const std::string& path, const sim::Registry& machine, std::u16string_view keyPath,
                      const char* rootName)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << EmptyHive(rootName);
    std::unique_ptr<hive_h, HiveClose> hive(hivex_open(path.c_str(), HIVEX_OPEN_WRITE));
    if (!hive) {
        Fail("opening the empty hive");
    }
    if (const auto key = sim::FindKey(machine.Root(sim::RootKey::LocalMachine), sim::SplitKeyPath(keyPath))) {
        CopyTree(hive.get(), key, hivex_root(hive.get()));
    }
    if (hivex_commit(hive.get(), path.c_str(), 0) != 0) {
        Fail("writing the hive");
    }
}

} // namespace hive_builder

namespace hive_builder {
namespace {

using regf::FirstBin;
constexpr std::size_t KeySubkeys = regf::key::Subkeys;
constexpr std::size_t KeySubkeyList = regf::key::List;
constexpr std::size_t KeyValueCount = regf::key::Values;
constexpr std::size_t KeyValueList = regf::key::ValueList;
constexpr std::size_t KeyName = regf::key::NameLength + 4; // after the name's length and the class's
constexpr std::size_t ValueSize = regf::value::Size;
constexpr std::size_t ValueData = regf::value::Data;
constexpr std::size_t ValueNameLength = 6;
// About the largest data hivex writes in one cell (it allocates no cell of more than 1,000,000
// bytes).
constexpr std::uint32_t BigData = 999'000;

// The data the values of SharedData share: large enough for their sum to be many times the file.
std::uint32_t SharedSize(std::size_t values)
{
    return static_cast<std::uint32_t>(std::min<std::size_t>(BigData, 256 * values));
}

std::uint32_t Relative(std::size_t cell)
{
    return static_cast<std::uint32_t>(cell - FirstBin);
}

// Where a hive's cells are, found with hivex over a copy of its bytes.
class Cells {
  public:
    explicit Cells(const std::string& bytes)
    {
        char path[] = "/tmp/hive_builder_XXXXXX";
        const int fd = mkstemp(path);
        if (fd < 0) {
            Fail("making a file for the hive");
        }
        close(fd);
        path_ = path;
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes;
        hive_.reset(hivex_open(path_.c_str(), 0));
        if (!hive_) {
            Fail("opening the hive");
        }
    }
    ~Cells() { std::remove(path_.c_str()); }
    Cells(const Cells&) = delete;
    Cells& operator=(const Cells&) = delete;

    // The key at `path` below the root ("ControlSet001\\Hostile\\a").
    std::size_t Key(const std::string& path) const
    {
        hive_node_h node = hivex_root(hive_.get());
        std::istringstream names(path);
        for (std::string name; node != 0 && std::getline(names, name, '\\');) {
            node = hivex_node_get_child(hive_.get(), node, name.c_str());
        }
        if (node == 0) {
            throw std::runtime_error("hive_builder: no key " + path);
        }
        return node;
    }

    // The values of the key at `keyPath`, by name.
    std::map<std::string, std::size_t> Values(const std::string& keyPath) const
    {
        std::map<std::string, std::size_t> named;
        const std::unique_ptr<hive_value_h, decltype(&std::free)> values(
            hivex_node_values(hive_.get(), Key(keyPath)), &std::free);
        for (const hive_value_h* value = values.get(); value != nullptr && *value != 0; ++value) {
            const std::unique_ptr<char, decltype(&std::free)> name(hivex_value_key(hive_.get(), *value),
                                                                   &std::free);
            named.emplace(name ? name.get() : "", *value);
        }
        return named;
    }

  private:
    std::string path_;
    std::unique_ptr<hive_h, HiveClose> hive_;
};

std::size_t DataCell(const std::string& hive, std::size_t value)
{
    return FirstBin + Get32(hive, value + ValueData);
}

// Makes the entry of `parent`'s subkey list (a leaf, as hivex writes them) that names `from` name
// `to` instead.
void Redirect(std::string& hive, std::size_t parent, std::size_t from, std::size_t to)
{
    const std::size_t list = FirstBin + Get32(hive, parent + KeySubkeyList);
    const std::size_t stride = hive.compare(list + 4, 2, "li") == 0 ? 4 : 8;
    for (std::size_t i = 0; i < Get32(hive, list + 4) >> 16; ++i) {
        if (Get32(hive, list + 8 + stride * i) == Relative(from)) {
            Put32(hive, list + 8 + stride * i, Relative(to));
            return;
        }
    }
    throw std::runtime_error("hive_builder: the subkey list does not name that key");
}

// A key below HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Hostile.
std::shared_ptr<sim::RegistryKey> Add(sim::Registry& machine, const std::string& path)
{
    std::u16string wide = u"SYSTEM\\CurrentControlSet\\Hostile";
    for (const char c : path.empty() ? path : "\\" + path) {
        wide += static_cast<char16_t>(c);
    }
    return sim::CreateKey(machine.Root(sim::RootKey::LocalMachine), sim::SplitKeyPath(wide));
}

void Set(const std::shared_ptr<sim::RegistryKey>& key, const std::string& name, std::size_t size,
         std::uint32_t type = 3)
{
    const std::vector<unsigned char> data(size, 0x5A);
    key->SetValue(std::u16string(name.begin(), name.end()), type, data);
}

std::string Numbered(const char* prefix, std::size_t i)
{
    return prefix + std::to_string(i);
}

} // namespace

std::string Utf8(const std::u16string& text)
{
    std::string utf8;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (c >> 12));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (c >> 18));
            utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

std::string SystemHive(const sim::Registry& machine, std::uint32_t controlSet)
{
    char path[] = "/tmp/hive_builder_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        Fail("making a file for the hive");
    }
    close(fd);
    WriteSystemHive(path, machine, controlSet);
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    std::remove(path);
    return bytes.str();
}

void RenameKey(std::string& hive, const std::string& path, const std::string& name)
{
    const std::size_t key = Cells(hive).Key(path);
    if (regf::Read16(hive, key + regf::key::NameLength) != name.size()) {
        throw std::runtime_error("hive_builder: a new name must be as long as the old one");
    }
    hive.replace(key + KeyName, name.size(), name);
}

void RenameValue(std::string& hive, const std::string& path, const std::string& value,
                 const std::string& name)
{
    const std::size_t cell = Cells(hive).Values(path).at(value);
    if (regf::Read16(hive, cell + ValueNameLength) != name.size()) {
        throw std::runtime_error("hive_builder: a new name must be as long as the old one");
    }
    hive.replace(cell + regf::value::Fields + 4, name.size(), name);
}

const char* ShapeName(Shape shape)
{
    static const char* const names[] = {"RepeatedSubkey", "SharedSubkey",  "OwnDescendant",
                                        "SharedValues",   "SharedData",    "SharedSegments",
                                        "HugeIndexRoot",  "HugeBlockList", "CellPastItsBin"};
    return names[static_cast<int>(shape)];
}

std::string HostileHive(Shape shape, std::size_t size, std::size_t padding)
{
    sim::Registry machine;
    const auto hostile = Add(machine, "");
    // Read before the shape: the walk takes the root's subkeys last to first.
    const auto pad =
        sim::CreateKey(machine.Root(sim::RootKey::LocalMachine), sim::SplitKeyPath(u"SYSTEM\\Padding"));
    const std::size_t piece = BigData;
    for (std::size_t done = 0, i = 0; done < padding; done += piece, ++i) {
        Set(pad, Numbered("p", i), std::min(piece, padding - done));
    }
    const std::string base = "ControlSet001\\Hostile";
    std::string level;
    switch (shape) {
    case Shape::RepeatedSubkey:
        for (std::size_t i = 0; i < size; ++i, level += "a\\") {
            Add(machine, level + "a");
            Add(machine, level + "b");
        }
        break;
    case Shape::SharedSubkey:
        Set(Add(machine, "p\\x"), "v", 8);
        Add(machine, "q\\y");
        break;
    case Shape::OwnDescendant:
        Add(machine, "k\\c\\d");
        break;
    case Shape::SharedValues:
        for (std::size_t i = 0; i < size; ++i) {
            Set(Add(machine, "p"), Numbered("v", i), 4, 4);
            Set(Add(machine, Numbered("q", i)), "v", 4, 4);
        }
        break;
    case Shape::SharedData:
        Set(hostile, "big", SharedSize(size));
        for (std::size_t i = 0; i < size; ++i) {
            Set(hostile, Numbered("v", i), 8);
        }
        break;
    case Shape::SharedSegments:
    case Shape::HugeBlockList:
        // Each value's 8 bytes become a big data record, and each list's data its block list: the
        // lists go last in the key's value list, which is then cut short of them.
        Set(hostile, "segment", 16344);
        for (std::size_t i = 0; i < size; ++i) {
            Set(hostile, Numbered("v", i), 8);
        }
        for (std::size_t i = 0; i < size; ++i) {
            Set(hostile, Numbered("list", i), 256);
        }
        break;
    case Shape::HugeIndexRoot:
        Add(machine, "k\\x\\y");
        break;
    case Shape::CellPastItsBin:
        Set(hostile, "big", 64);
        break;
    }
    std::string hive = SystemHive(machine);
    const Cells cells(hive);
    const auto values = cells.Values(base);
    switch (shape) {
    case Shape::RepeatedSubkey:
        for (std::string parent = base; parent.size() < base.size() + 2 * size; parent += "\\a") {
            Redirect(hive, cells.Key(parent), cells.Key(parent + "\\b"), cells.Key(parent + "\\a"));
        }
        break;
    case Shape::SharedSubkey:
        Redirect(hive, cells.Key(base + "\\q"), cells.Key(base + "\\q\\y"), cells.Key(base + "\\p\\x"));
        break;
    case Shape::OwnDescendant:
        Redirect(hive, cells.Key(base + "\\k\\c"), cells.Key(base + "\\k\\c\\d"), cells.Key(base + "\\k"));
        break;
    case Shape::SharedValues:
        for (std::size_t i = 0; i < size; ++i) {
            const std::size_t key = cells.Key(base + "\\" + Numbered("q", i));
            Put32(hive, key + KeyValueCount, static_cast<std::uint32_t>(size));
            Put32(hive, key + KeyValueList, Get32(hive, cells.Key(base + "\\p") + KeyValueList));
        }
        break;
    case Shape::SharedData:
        for (std::size_t i = 0; i < size; ++i) {
            const std::size_t value = values.at(Numbered("v", i));
            Put32(hive, value + ValueSize, SharedSize(size));
            Put32(hive, value + ValueData, Get32(hive, values.at("big") + ValueData));
        }
        break;
    case Shape::SharedSegments:
    case Shape::HugeBlockList: {
        const std::size_t segment = DataCell(hive, values.at("segment"));
        const std::uint16_t count = shape == Shape::SharedSegments ? 64 : 0xFFFF;
        for (std::size_t i = 0; i < size; ++i) {
            const std::size_t value = values.at(Numbered("v", i));
            const std::size_t record = DataCell(hive, value);
            const std::size_t list = DataCell(hive, values.at(Numbered("list", i)));
            PutText(hive, record + 4, "db");
            Put16(hive, record + 6, count);
            Put32(hive, record + 8, Relative(list));
            for (std::size_t j = 0; j < 64; ++j) {
                Put32(hive, list + 4 + 4 * j, Relative(segment));
            }
            // What 64 segments hold: hivex takes all but the last 4 bytes of a segment's cell.
            Put32(hive, value + ValueSize,
                  64 * (static_cast<std::uint32_t>(-static_cast<std::int32_t>(Get32(hive, segment))) - 8));
        }
        Put32(hive, cells.Key(base) + KeyValueCount, static_cast<std::uint32_t>(1 + size));
        break;
    }
    case Shape::HugeIndexRoot: {
        // k's leaf becomes an index root naming x's leaf: k's one subkey is then y.
        const std::size_t list = FirstBin + Get32(hive, cells.Key(base + "\\k") + KeySubkeyList);
        PutText(hive, list + 4, "ri");
        Put16(hive, list + 6, 0xFFFF);
        Put32(hive, list + 8, Get32(hive, cells.Key(base + "\\k\\x") + KeySubkeyList));
        break;
    }
    case Shape::CellPastItsBin: {
        // The free cell that ends the last bin, made a cell in use 16 MiB long, holds the data.
        std::size_t bin = FirstBin;
        while (bin + Get32(hive, bin + 8) < hive.size()) {
            bin += Get32(hive, bin + 8);
        }
        std::size_t cell = bin + 0x20;
        for (std::size_t next = cell; next < bin + Get32(hive, bin + 8);) {
            cell = next;
            const auto declared = static_cast<std::int32_t>(Get32(hive, cell));
            next += static_cast<std::size_t>(declared < 0 ? -declared : declared);
        }
        if (static_cast<std::int32_t>(Get32(hive, cell)) < 0) {
            throw std::runtime_error("hive_builder: the last bin ends in a cell in use");
        }
        Put32(hive, cell, static_cast<std::uint32_t>(-(16 << 20)));
        const std::size_t value = values.at("big");
        Put32(hive, value + ValueSize, 8'000'000);
        Put32(hive, value + ValueData, Relative(cell));
        break;
    }
    }
    return hive;
}

const char* ValidShapeName(ValidShape shape)
{
    return shape == ValidShape::IndexRootOfLi ? "IndexRootOfLi" : "IndexRootOfLh";
}

std::string ValidHive(ValidShape shape)
{
    // k's one subkey x has three subkeys; k's leaf, made an index root, then names x's leaf, so
    // that k's subkeys are x's, each reached once.
    sim::Registry machine;
    for (const char* name : {"a", "b", "c"}) {
        Set(Add(machine, std::string("k\\x\\") + name), "v", 4, 4);
    }
    std::string hive = SystemHive(machine);
    const std::string base = "ControlSet001\\Hostile";
    const Cells cells(hive);
    const std::size_t root = FirstBin + Get32(hive, cells.Key(base + "\\k") + KeySubkeyList);
    const std::size_t leaf = FirstBin + Get32(hive, cells.Key(base + "\\k\\x") + KeySubkeyList);
    PutText(hive, root + 4, "ri");
    Put32(hive, root + 8, Relative(leaf));
    Put32(hive, cells.Key(base + "\\k") + KeySubkeys, 3);
    if (shape == ValidShape::IndexRootOfLi) {
        // Each entry keeps the key's offset and drops its hash; the cell shrinks to what three
        // entries need, 20 bytes rounded to 24, and its rest becomes a free cell.
        const auto size = static_cast<std::size_t>(-static_cast<std::int32_t>(Get32(hive, leaf)));
        PutText(hive, leaf + 4, "li");
        for (std::size_t i = 0; i < 3; ++i) {
            Put32(hive, leaf + 8 + 4 * i, Get32(hive, leaf + 8 + 8 * i));
        }
        Put32(hive, leaf, static_cast<std::uint32_t>(-24));
        Put32(hive, leaf + 24, static_cast<std::uint32_t>(size - 24));
    }
    RenameKey(hive, base, "Regular");
    return hive;
}

} // namespace hive_builder
