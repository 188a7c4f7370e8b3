#include "support/test_support.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace test_support {

std::string NetAdapter(std::string_view instancePath, std::string_view valueLines)
{
    return "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\" + std::string(instancePath) +
           "]\n\"ClassGUID\"=\"" + std::string(NetClass) + "\"\n" + std::string(valueLines);
}

std::string NetDriverKey(std::string_view index, std::string_view valueLines)
{
    return "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\" + std::string(NetClass) +
           "\\" + std::string(index) + "]\n" + std::string(valueLines);
}

std::string RegFile(std::initializer_list<std::string> sections)
{
    std::string text = "Windows Registry Editor Version 5.00\n";
    for (const auto& section : sections) {
        text += section;
    }
    return text;
}

std::string Utf16RegFile(std::string_view utf8Text)
{
    std::string bytes = "\xFF\xFE";
    auto put = [&](char32_t c) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
    };
    for (std::size_t i = 0; i < utf8Text.size();) {
        const auto lead = static_cast<unsigned char>(utf8Text[i]);
        const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            c = (c << 6) | (static_cast<unsigned char>(utf8Text[i + k]) & 0x3F);
        }
        i += 1 + extra;
        if (c == U'\n') {
            put(U'\r');
        }
        if (c >= 0x10000) {
            put(0xD800 + ((c - 0x10000) >> 10));
            put(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            put(c);
        }
    }
    return bytes;
}

std::string Utf16Bytes(std::string_view ascii)
{
    std::string bytes;
    for (const char c : ascii) {
        bytes.push_back(c);
        bytes.push_back('\0');
    }
    return bytes;
}

std::string HexBytes(std::string_view bytes)
{
    std::string hex;
    char item[4];
    for (const char b : bytes) {
        snprintf(item, sizeof item, "%02x,", static_cast<unsigned char>(b));
        hex += item;
    }
    if (!hex.empty()) {
        hex.pop_back();
    }
    return hex;
}

std::string SampleMachineReport(bool traced)
{
    // The one copy of the sample report is tests/machines/sample_machine.expected.
    std::ifstream expected(SAMPLE_MACHINE_EXPECTED, std::ios::binary);
    if (!expected) {
        throw std::runtime_error("cannot read " SAMPLE_MACHINE_EXPECTED);
    }
    std::string report;
    for (std::string line; std::getline(expected, line);) {
        if (traced || line.rfind("GetRegistryStringValue(): ", 0) != 0) {
            report += line + "\n";
        }
    }
    return report;
}

std::string DriverValue(std::string_view index)
{
    return "\"Driver\"=\"" + std::string(NetClass) + "\\\\" + std::string(index) + "\"\n";
}

std::string CaptureStdout(const std::function<void()>& action)
{
    fflush(stdout);
    FILE* capture = tmpfile();
    const int saved = dup(STDOUT_FILENO);
    if (capture == nullptr || saved < 0 || dup2(fileno(capture), STDOUT_FILENO) < 0) {
        throw std::runtime_error("cannot redirect standard output");
    }
    action();
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);

    std::string output;
    rewind(capture);
    char chunk[4096];
    size_t got = 0;
    while ((got = fread(chunk, 1, sizeof chunk, capture)) > 0) {
        output.append(chunk, got);
    }
    fclose(capture);
    return output;
}

} // namespace test_support
