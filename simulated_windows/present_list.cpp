#include "simulated_windows/present_list.h"

#include "simulated_windows/code_page.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace simulated_windows {
namespace {

std::u16string Decode(std::string_view bytes)
{
    const ByteOrderMark mark = ReadByteOrderMark(bytes);
    bytes.remove_prefix(mark.size);
    if (mark.encoding == ByteOrderMark::Utf16Le) {
        return Utf16FromBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    }
    return Utf8ToUtf16(bytes);
}

// The fields of one CSV line: commas separate them, a field in quotes may hold commas, and two
// quotes inside one stand for one.
std::vector<std::u16string> Fields(std::u16string_view line)
{
    std::vector<std::u16string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char16_t c = line[i];
        if (quoted && c == u'"' && i + 1 < line.size() && line[i + 1] == u'"') {
            fields.back().push_back(u'"');
            ++i;
        } else if (c == u'"') {
            quoted = !quoted;
        } else if (c == u',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back().push_back(c);
        }
    }
    return fields;
}

bool Named(const std::u16string& field, std::u16string_view name)
{
    return InstanceIdKey(field) == InstanceIdKey(name);
}

} // namespace

std::u16string InstanceIdKey(std::u16string_view instanceId)
{
    std::u16string key(instanceId);
    std::transform(key.begin(), key.end(), key.begin(), UpcaseForCompare);
    return key;
}

PresentDevices ReadPresentDevices(std::string_view csvBytes, const std::string& fileName)
{
    const std::u16string text = Decode(csvBytes);
    PresentDevices present;
    std::optional<std::size_t> column;
    bool firstLine = true;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find_first_of(u"\r\n", start);
        end = end == std::u16string::npos ? text.size() : end;
        const std::u16string_view line = std::u16string_view(text).substr(start, end - start);
        start = end + 1;
        // wmic ends its lines with "\r\r\n": blank lines are nothing. Windows PowerShell 5 puts
        // "#TYPE <class>" before the header.
        if (line.find_first_not_of(u" \t") == std::u16string_view::npos ||
            (firstLine && line.substr(0, 5) == u"#TYPE")) {
            firstLine = false;
            continue;
        }
        firstLine = false;
        const std::vector<std::u16string> fields = Fields(line);
        if (!column) {
            const auto found = std::find_if(fields.begin(), fields.end(), [](const std::u16string& field) {
                return Named(field, u"InstanceId") || Named(field, u"PNPDeviceID");
            });
            if (found == fields.end()) {
                throw RefusedInput(fileName, 0,
                                   "not a list of present devices: it has neither an InstanceId nor a "
                                   "PNPDeviceID column");
            }
            column = static_cast<std::size_t>(found - fields.begin());
            continue;
        }
        if (*column < fields.size() && !fields[*column].empty()) {
            present.insert(InstanceIdKey(fields[*column]));
        }
    }
    if (!column) {
        throw RefusedInput(fileName, 0, "not a list of present devices: it is empty");
    }
    return present;
}

} // namespace simulated_windows
