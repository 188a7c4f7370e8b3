#include "indirect_string.h"

#include <vector>

namespace simulated_windows {
namespace {

// The arguments of a final ";(a,b,...)", which must run to the end of the text.
std::optional<std::vector<std::u16string_view>> Arguments(std::u16string_view list)
{
    if (list.size() < 2 || list.front() != u'(' || list.back() != u')') {
        return std::nullopt;
    }
    list = list.substr(1, list.size() - 2);
    std::vector<std::u16string_view> arguments;
    while (true) {
        const std::size_t comma = list.find(u',');
        arguments.push_back(list.substr(0, comma));
        if (comma == std::u16string_view::npos) {
            return arguments;
        }
        list.remove_prefix(comma + 1);
    }
}

bool IsDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// The fallback with %1...%N (one or two digits) replaced by the arguments; any other % stays.
std::u16string Insert(std::u16string_view fallback, const std::vector<std::u16string_view>& arguments)
{
    std::u16string text;
    for (std::size_t i = 0; i < fallback.size(); ++i) {
        std::size_t digits = 0;
        std::size_t number = 0;
        while (fallback[i] == u'%' && digits < 2 && i + 1 + digits < fallback.size() &&
               IsDigit(fallback[i + 1 + digits])) {
            number = number * 10 + static_cast<std::size_t>(fallback[i + 1 + digits] - u'0');
            ++digits;
        }
        if (digits > 0 && number >= 1 && number <= arguments.size()) {
            text += arguments[number - 1];
            i += digits;
        } else {
            text.push_back(fallback[i]);
        }
    }
    return text;
}

} // namespace

std::optional<std::u16string> ResolveIndirectString(std::u16string_view stored)
{
    if (stored.empty() || stored.front() != u'@') {
        return std::nullopt;
    }
    // The reference ends at the first ';'; without one there is no fallback.
    const std::size_t referenceEnd = stored.find(u';');
    if (referenceEnd == std::u16string_view::npos) {
        return std::nullopt;
    }
    const std::u16string_view rest = stored.substr(referenceEnd + 1);
    const std::size_t listStart = rest.rfind(u";(");
    if (listStart != std::u16string_view::npos) {
        if (const auto arguments = Arguments(rest.substr(listStart + 1))) {
            return Insert(rest.substr(0, listStart), *arguments);
        }
    }
    return std::u16string(rest);
}

} // namespace simulated_windows
