#include "hive/hive_builder.h"

#include <hivex.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

namespace sim = simulated_windows;

namespace hive_builder {
namespace {

void Put32(std::string& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
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

std::string EmptyHive()
{
    const std::size_t block = 0x1000;
    std::string bytes(2 * block, '\0');
    // The base block.
    PutText(bytes, 0x00, "regf");
    Put32(bytes, 0x04, 1);      // primary sequence number
    Put32(bytes, 0x08, 1);      // secondary sequence number, equal: no write in progress
    Put32(bytes, 0x14, 1);      // major version
    Put32(bytes, 0x18, 3);      // minor version
    Put32(bytes, 0x1C, 0);      // a primary file
    Put32(bytes, 0x20, 1);      // direct memory load
    Put32(bytes, 0x24, 0x20);   // the root key's cell, relative to the first bin
    Put32(bytes, 0x28, block);  // size of the bins
    Put32(bytes, 0x2C, 1);      // clustering factor
    std::uint32_t checksum = 0; // XOR of the 127 double words before it
    for (std::size_t at = 0; at < 0x1FC; at += 4) {
        std::uint32_t word = 0;
        std::memcpy(&word, &bytes[at], 4);
        checksum ^= word;
    }
    Put32(bytes, 0x1FC, checksum == 0 ? 1 : checksum == 0xFFFFFFFF ? 0xFFFFFFFE : checksum);

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
    Put16(bytes, root + 0x4C, 4);
    PutText(bytes, root + 0x50, "ROOT");
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

} // namespace hive_builder
