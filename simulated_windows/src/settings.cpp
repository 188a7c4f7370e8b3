#include "settings.h"

namespace simulated_windows {
namespace {

// Splits `list` at every `separator`; every item must name a file.
std::vector<std::string> FileList(const char* variable, std::string_view list, char separator)
{
    std::vector<std::string> files;
    while (true) {
        const std::size_t end = list.find(separator);
        const std::string_view file = list.substr(0, end);
        if (file.empty()) {
            throw RefusedInput(variable, 0, "an empty file name in the list");
        }
        files.emplace_back(file);
        if (end == std::string_view::npos) {
            return files;
        }
        list.remove_prefix(end + 1);
    }
}

std::optional<std::vector<std::string>> RegistryFiles(const Environment& environment)
{
    const char* joined = environment("SIMULATED_REGISTRY");
    const char* lines = environment("SIMULATED_REGISTRY_FILES");
    if (joined != nullptr && lines != nullptr) {
        throw RefusedInput("SIMULATED_REGISTRY_FILES", 0,
                           "set together with SIMULATED_REGISTRY: use one of them");
    }
    if (joined != nullptr) {
        return FileList("SIMULATED_REGISTRY", joined, ':');
    }
    if (lines != nullptr) {
        std::string_view list = lines;
        // A list written one file a line usually ends with a line end.
        if (list.ends_with('\n')) {
            list.remove_suffix(1);
        }
        return FileList("SIMULATED_REGISTRY_FILES", list, '\n');
    }
    return std::nullopt;
}

} // namespace

Settings ReadSettings(const Environment& environment)
{
    Settings settings;
    settings.registryFiles = RegistryFiles(environment);
    if (const char* list = environment("SIMULATED_PRESENT"); list != nullptr) {
        if (*list == '\0') {
            throw RefusedInput("SIMULATED_PRESENT", 0, "names no file");
        }
        settings.presentList = list;
    }
    if (const char* user = environment("SIMULATED_USER"); user != nullptr) {
        const std::string_view name = user;
        if (name != "standard" && name != "administrator") {
            throw RefusedInput("SIMULATED_USER", 0,
                               "\"" + std::string(name) + "\" is neither standard nor administrator");
        }
        settings.user = name == "standard" ? User::Standard : User::Administrator;
    }
    return settings;
}

} // namespace simulated_windows
