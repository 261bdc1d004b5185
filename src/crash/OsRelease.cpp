#include "crash/OsRelease.h"

#include <fstream>
#include <sstream>
#include <sys/utsname.h>

namespace brindell {

std::optional<std::string> osReleaseVersionId(std::string_view osRelease) {
    constexpr std::string_view key = "VERSION_ID=";
    std::optional<std::string> found;
    while (!osRelease.empty()) {
        const auto end = osRelease.find('\n');
        std::string_view line = osRelease.substr(0, end);
        osRelease = end == std::string_view::npos ? std::string_view() : osRelease.substr(end + 1);
        if (line.substr(0, key.size()) != key) {
            continue;
        }
        std::string_view value = line.substr(key.size());
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) {
            value.remove_suffix(1);
        }
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        // As in a shell, the last assignment wins.
        found = value.empty() ? std::nullopt : std::optional<std::string>(value);
    }
    return found;
}

std::string systemOsVersion() {
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream in(path);
        if (!in) {
            continue;
        }
        std::ostringstream text;
        text << in.rdbuf();
        if (auto version = osReleaseVersionId(text.str())) {
            return *version;
        }
        break; // the first file that exists is the one that counts
    }
    utsname names{};
    if (uname(&names) == 0) {
        return std::string("Linux ") + names.release;
    }
    return {};
}

} // namespace brindell
