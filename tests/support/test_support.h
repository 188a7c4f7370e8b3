// Helpers shared by the tests: machines written as .reg text, and capturing what code writes to
// standard output.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace test_support {

// The net class GUID as a .reg file writes it.
inline constexpr std::string_view NetClass = "{4d36e972-e325-11ce-bfc1-08002be10318}";

// The prefix of the maker's adapter descriptions, its two leading spaces included.
inline constexpr std::string_view MakerPrefix = "  Brenlok Hardware Abstraction Driver";

// The value line `"Driver"="<net class>\\<index>"`, naming a driver key of the net class.
std::string DriverValue(std::string_view index);

// A network adapter's instance key (its path below Enum) with its class and the given value lines.
std::string NetAdapter(std::string_view instancePath, std::string_view valueLines);

// A driver key below Control\Class\<net class>, with the given value lines.
std::string NetDriverKey(std::string_view index, std::string_view valueLines);

// A version 5.00 .reg file of 8-bit text made of the given sections.
std::string RegFile(std::initializer_list<std::string> sections);

// The same text as a UTF-16LE file with a byte-order mark and CRLF line ends, as `reg export`
// writes it. `text` is UTF-8.
std::string Utf16RegFile(std::string_view utf8Text);

// ASCII text as UTF-16LE bytes, without a byte-order mark or terminator.
std::string Utf16Bytes(std::string_view ascii);

// `text` as hex bytes the way a .reg file writes them: "41,00,42,00".
std::string HexBytes(std::string_view bytes);

// The report of the sample machine built into the platform (tests/machines/sample_machine.expected),
// with or without the trace lines.
std::string SampleMachineReport(bool traced);

// Everything `action` writes to standard output (C stdio and file descriptor 1 alike).
std::string CaptureStdout(const std::function<void()>& action);

} // namespace test_support
