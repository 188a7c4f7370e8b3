#include "large_export.h"

#include <cstdio>

namespace {

void AppendUtf16(std::string& out, const std::string& ascii)
{
    for (const char c : ascii) {
        if (c == '\n') {
            out += std::string("\r\0", 2);
        }
        out.push_back(c);
        out.push_back('\0');
    }
}

// A hex value as the exporter writes it: lines of at most 77 characters joined by "\" and a
// two-space indent.
std::string HexValue(const std::string& name, std::size_t bytes)
{
    std::string line = "\"" + name + "\"=hex:";
    std::string text;
    char item[4];
    for (std::size_t i = 0; i < bytes; ++i) {
        snprintf(item, sizeof item, "%02x", static_cast<unsigned>((i * 37) & 0xFF));
        const bool last = i + 1 == bytes;
        if (line.size() + 3 > 76 && !last) {
            text += line + "\\\n";
            line = "  ";
        }
        line += item;
        if (!last) {
            line += ",";
        }
    }
    return text + line + "\n";
}

} // namespace

std::string LargeExport(std::size_t keys, bool systemOnly)
{
    std::string out = "\xFF\xFE";
    AppendUtf16(out, "Windows Registry Editor Version 5.00\n\n");
    const std::string net = "{4d36e972-e325-11ce-bfc1-08002be10318}";
    const std::size_t devices = systemOnly ? keys / 3 : keys / 20; // each makes three keys
    // A SYSTEM hive keeps no key with tens of thousands of subkeys (hivex cannot write one, and a
    // real machine has none): there the devices spread over device IDs and classes.
    const std::size_t deviceIds = systemOnly ? 1024 : 0x10000;
    char text[256];
    for (std::size_t d = 0; d < devices; ++d) {
        char classText[64];
        snprintf(classText, sizeof classText, "{4d36e972-e325-11ce-bfc1-%012zx}", 0x08002be10318 + d / 100);
        const std::string deviceClass = systemOnly ? classText : net;
        snprintf(text, sizeof text,
                 "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\PCI\\VEN_F0E1&DEV_%04zX\\4&%08zX&0&"
                 "00E0]\n",
                 d % deviceIds, d);
        std::string section = text;
        section += "\"ClassGUID\"=\"" + deviceClass + "\"\n";
        section += d % 2 == 0 ? "\"DeviceDesc\"=\"  Brenlok Hardware Abstraction Driver #" +
                                    std::to_string(d) + "\"\n"
                              : "\"DeviceDesc\"=\"Generic Ethernet Adapter #" + std::to_string(d) + "\"\n";
        section +=
            "\"LocationInformation\"=\"PCI bus " + std::to_string(d % 256) + ", device 0, function 0\"\n";
        snprintf(text, sizeof text, "\"UINumber\"=dword:%08zx\n\"Driver\"=\"%s\\\\%04zu\"\n\n", d,
                 deviceClass.c_str(), d);
        section += text;
        snprintf(text, sizeof text,
                 "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\PCI\\VEN_F0E1&DEV_%04zX\\4&%08zX&0&"
                 "00E0\\Device "
                 "Parameters]\n\"InterruptManagement\"=dword:00000001\n\n",
                 d % deviceIds, d);
        section += text;
        snprintf(text, sizeof text,
                 "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\%s\\%04zu]\n",
                 deviceClass.c_str(), d);
        section += text;
        section += "\"DeviceName\"=\"\\\\Device\\\\BrenlokHad" + std::to_string(d) + "\"\n";
        section += HexValue("NetworkAddress", 48) + "\n";
        AppendUtf16(out, section);
    }
    for (std::size_t k = 3 * devices; k < keys; ++k) {
        snprintf(text, sizeof text,
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{%08zX-0000-4000-8000-00000000BEEF}]\n"
                 "@=\"Component %zu\"\n\"ThreadingModel\"=\"Both\"\n\"Flags\"=dword:%08zx\n\n",
                 k, k, k);
        AppendUtf16(out, text);
    }
    return out;
}

std::string WideKeyExport(std::size_t values)
{
    std::string out = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wide]\n";
    char line[64];
    for (std::size_t v = 0; v < values; ++v) {
        snprintf(line, sizeof line, "\"Value%zu\"=dword:%08zx\n", v, v);
        out += line;
    }
    return out;
}
