#include "replay/registry_export.h"

#include "machine.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

namespace replay {
namespace sim = simulated_windows;
namespace {

static_assert(std::endian::native == std::endian::little, "the export's UTF-16LE is written as it is held");

constexpr std::uint32_t RegSz = 1;
constexpr std::uint32_t RegBinary = 3;
constexpr std::uint32_t RegDword = 4;

// In the order regedit lists them.
constexpr std::array<sim::RootKey, 5> Roots{sim::RootKey::ClassesRoot, sim::RootKey::CurrentUser,
                                            sim::RootKey::LocalMachine, sim::RootKey::Users,
                                            sim::RootKey::CurrentConfig};

void AppendEscaped(std::u16string& text, std::u16string_view raw)
{
    for (const char16_t c : raw) {
        switch (c) {
        case u'\\':
            text += u"\\\\";
            break;
        case u'"':
            text += u"\\\"";
            break;
        case u'\r':
            text += u"\\r";
            break;
        case u'\n':
            text += u"\\n";
            break;
        default:
            text += c;
        }
    }
}

// The text of REG_SZ data that "..." gives back byte for byte: UTF-16 with one terminator, at the
// end. Line ends are left to hex(1) too: regedit's escapes for them are Wine's, not Windows'.
std::optional<std::u16string_view> QuotableString(std::span<const unsigned char> data)
{
    if (data.size() < 2 || data.size() % 2 != 0) {
        return std::nullopt;
    }
    const std::u16string_view text(reinterpret_cast<const char16_t*>(data.data()), data.size() / 2 - 1);
    if (text.data()[text.size()] != u'\0' ||
        text.find_first_of(std::u16string_view(u"\0\r\n", 3)) != std::u16string_view::npos) {
        return std::nullopt;
    }
    return text;
}

void AppendHexDigits(std::u16string& text, std::uint32_t value, int digits)
{
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
        text += u"0123456789abcdef"[(value >> shift) & 0xF];
    }
}

void AppendValue(std::u16string& text, const sim::RegistryValue& value)
{
    const std::size_t lineStart = text.size();
    if (value.Name().empty()) {
        text += u"@=";
    } else {
        text += u'"';
        AppendEscaped(text, value.Name());
        text += u"\"=";
    }
    const std::span<const unsigned char> data = value.Data();
    if (const auto quotable = value.Type() == RegSz ? QuotableString(data) : std::nullopt) {
        text += u'"';
        AppendEscaped(text, *quotable);
        text += u'"';
    } else if (value.Type() == RegDword && data.size() == 4) {
        text += u"dword:";
        AppendHexDigits(
            text, data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24, 8);
    } else {
        if (value.Type() == RegBinary) {
            text += u"hex:";
        } else {
            text += u"hex(";
            const int digits = std::max(1, static_cast<int>(std::bit_width(value.Type()) + 3) / 4);
            AppendHexDigits(text, value.Type(), digits);
            text += u"):";
        }
        // Windows counts the line from its start and breaks it once it reaches 77 characters,
        // going on after two spaces (Wine's reg export tests, which hold on Windows).
        std::size_t lineLength = text.size() - lineStart;
        for (std::size_t i = 0; i < data.size(); ++i) {
            AppendHexDigits(text, data[i], 2);
            if (i + 1 == data.size()) {
                break;
            }
            text += u',';
            lineLength += 3;
            if (lineLength >= 77) {
                text += u"\\\r\n  ";
                lineLength = 2;
            }
        }
    }
    text += u"\r\n";
}

} // namespace

std::optional<std::vector<ExportedKey>> KeysToExport(const sim::Registry& registry, std::string_view path)
{
    std::vector<ExportedKey> keys;
    if (path.empty()) {
        for (const sim::RootKey root : Roots) {
            const auto key = registry.Root(root);
            if (!key->Values().empty() || !key->Subkeys().empty()) {
                keys.push_back({key->Name(), key}); // a root key is named in full
            }
        }
        return keys;
    }
    const std::u16string wide = sim::Utf8ToUtf16(path);
    const std::u16string_view rootPart = std::u16string_view(wide).substr(0, wide.find(u'\\'));
    const std::u16string_view rest = std::u16string_view(wide).substr(rootPart.size());
    const std::optional<sim::RootKey> root = sim::RootKeyNamed(rootPart);
    const sim::KeyPath names = sim::SplitKeyPath(rest.empty() ? rest : rest.substr(1));
    const auto key = !root || !names.valid ? nullptr : sim::FindKey(registry.Root(*root), names);
    if (!key) {
        return std::nullopt;
    }
    std::u16string exported = registry.Root(*root)->Name();
    for (const std::u16string& name : names.names) {
        exported += u'\\' + name;
    }
    keys.push_back({exported, key});
    return keys;
}

bool WriteRegExport(std::span<const ExportedKey> keys, std::FILE* out)
{
    std::u16string text = u"\uFEFFWindows Registry Editor Version 5.00\r\n";
    bool written = true;
    auto flush = [&] {
        written = written && std::fwrite(text.data(), sizeof(char16_t), text.size(), out) == text.size();
        text.clear();
    };
    // Depth first, each key before its subkeys, which go in enumeration order. One path is held,
    // cut back and extended as the walk goes, and for each level of it the subkeys of its key and
    // how far they are written: memory in the tree's depth times a name, and its widest level.
    struct Level {
        std::vector<std::pair<std::u16string_view, std::shared_ptr<sim::RegistryKey>>> subkeys;
        std::size_t next = 0;
        std::size_t pathLength; // of the path of the key whose subkeys these are
    };
    std::u16string path;
    std::vector<Level> levels;
    const auto writeKey = [&](const sim::RegistryKey& key) {
        text += u"\r\n[" + path + u"]\r\n";
        for (const sim::RegistryValue* value : key.Values()) {
            if (const std::string fault = sim::ValueNameFault(value->Name()); !fault.empty()) {
                throw ExportRefused(fault);
            }
            AppendValue(text, *value);
        }
        levels.push_back({key.ListedSubkeys(), 0, path.size()});
        if (text.size() > 1 << 16) {
            flush();
        }
    };
    for (const ExportedKey& top : keys) {
        path = top.path;
        writeKey(*top.key);
        while (!levels.empty()) {
            Level& level = levels.back();
            if (level.next == level.subkeys.size()) {
                levels.pop_back();
                continue;
            }
            // A copy: writing the subkey adds a level, which may move this one.
            const auto [name, subkey] = level.subkeys[level.next++];
            path.resize(level.pathLength);
            if (const std::string fault = sim::KeyNameFault(name); !fault.empty()) {
                throw ExportRefused(fault);
            }
            path += u'\\';
            path += name;
            writeKey(*subkey);
        }
    }
    text += u"\r\n";
    flush();
    return written;
}

const sim::Registry& LoadedRegistry()
{
    return sim::LoadedRegistry();
}

} // namespace replay
