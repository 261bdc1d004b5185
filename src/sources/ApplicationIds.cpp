#include "sources/ApplicationIds.h"

#include "sources/DesktopEntry.h"

#include <algorithm>
#include <array>

namespace brindell {
namespace {

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

std::string_view baseName(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : c - 'A' + 10;
}

bool isUUID(std::string_view text) {
    if (text.size() != 36) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !isHex(text[i])) {
            return false;
        }
    }
    return true;
}

// A Snap's scope: "snap.<snap>.<app>.<uuid>.scope" or "snap.<snap>.<app>-<uuid>.scope".
std::optional<std::string> snapApplicationID(std::string_view unit) {
    // The prefix and suffix must not overlap ("snap.scope").
    if (unit.size() <= 11 || !unit.starts_with("snap.") || !unit.ends_with(".scope")) {
        return std::nullopt;
    }
    unit.remove_prefix(5);
    unit.remove_suffix(6);
    const std::vector<std::string_view> parts = split(unit, '.');
    if (parts.size() < 2 || parts[0].empty() || parts[1].empty() || parts[1] == "hook") {
        return std::nullopt;
    }
    std::string_view app = parts[1];
    if (app.size() > 37 && app[app.size() - 37] == '-' && isUUID(app.substr(app.size() - 36))) {
        app.remove_suffix(37);
    }
    if (app.empty()) {
        return std::nullopt;
    }
    return std::string(parts[0]) + "_" + std::string(app);
}

bool validApplicationID(std::string_view id) {
    return !id.empty() && id.size() <= 255 && std::none_of(id.begin(), id.end(), [](char c) {
        return c == '/' || static_cast<unsigned char>(c) < 0x20;
    });
}

} // namespace

std::optional<std::string> flatpakApplicationID(std::string_view flatpakInfo) {
    const KeyFile file = KeyFile::parse(flatpakInfo);
    const std::string* name = file.value("Application", "name");
    if (!name || !validApplicationID(*name)) {
        return std::nullopt;
    }
    return *name;
}

std::string unescapeUnitName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' && isHex(name[i + 2]) &&
            isHex(name[i + 3])) {
            out.push_back(static_cast<char>(hexValue(name[i + 2]) * 16 + hexValue(name[i + 3])));
            i += 3;
        } else {
            out.push_back(name[i]);
        }
    }
    return out;
}

std::optional<std::string> unitApplicationID(std::string_view unit) {
    if (auto snap = snapApplicationID(unit)) {
        return snap;
    }
    if (!unit.starts_with("app-")) {
        return std::nullopt;
    }
    std::vector<std::string_view> parts;
    if (unit.ends_with(".scope")) {
        unit.remove_suffix(6);
        parts = split(unit, '-');
        // The last part is the random suffix that makes the scope unique.
        if (parts.size() < 3) {
            return std::nullopt;
        }
        parts.pop_back();
    } else if (unit.ends_with(".service")) {
        unit.remove_suffix(8);
        unit = unit.substr(0, unit.find('@'));
        parts = split(unit, '-');
        if (parts.size() < 2) {
            return std::nullopt;
        }
    } else {
        return std::nullopt;
    }
    // parts: "app", [launcher], id
    if (parts.size() > 3) {
        return std::nullopt;
    }
    std::string id = unescapeUnitName(parts.back());
    if (!validApplicationID(id)) {
        return std::nullopt;
    }
    return id;
}

std::optional<std::string> cgroupApplicationID(std::string_view cgroupFile) {
    std::optional<std::string_view> unified;
    std::optional<std::string_view> systemd;
    for (std::string_view line : split(cgroupFile, '\n')) {
        // hierarchy-id:controllers:path
        const std::size_t first = line.find(':');
        const std::size_t second =
            first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) {
            continue;
        }
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        const std::string_view path = line.substr(second + 1);
        if (line.substr(0, first) == "0" && controllers.empty()) {
            unified = path;
        } else if (controllers == "name=systemd") {
            systemd = path;
        }
    }
    const std::optional<std::string_view> path = unified ? unified : systemd;
    if (!path) {
        return std::nullopt;
    }
    const std::vector<std::string_view> units = split(*path, '/');
    for (auto unit = units.rbegin(); unit != units.rend(); ++unit) {
        if (auto id = unitApplicationID(*unit)) {
            return id;
        }
    }
    return std::nullopt;
}

bool isSharedProgramFolder(const std::string& folder, const std::vector<std::string>& searchPath) {
    static constexpr std::array<std::string_view, 24> shared = {"/",
                                                                "/bin",
                                                                "/sbin",
                                                                "/lib",
                                                                "/lib64",
                                                                "/usr",
                                                                "/usr/bin",
                                                                "/usr/sbin",
                                                                "/usr/games",
                                                                "/usr/lib",
                                                                "/usr/lib32",
                                                                "/usr/lib64",
                                                                "/usr/libexec",
                                                                "/usr/local",
                                                                "/usr/local/bin",
                                                                "/usr/local/sbin",
                                                                "/usr/local/games",
                                                                "/usr/local/lib",
                                                                "/usr/local/libexec",
                                                                "/opt",
                                                                "/snap/bin",
                                                                "/var/lib/flatpak/exports/bin",
                                                                "/usr/share",
                                                                "/home"};
    if (std::find(shared.begin(), shared.end(), folder) != shared.end()) {
        return true;
    }
    if (std::find(searchPath.begin(), searchPath.end(), folder) != searchPath.end()) {
        return true;
    }
    // Multiarch library folders such as /usr/lib/x86_64-linux-gnu.
    for (std::string_view lib : {"/usr/lib/", "/lib/"}) {
        if (folder.starts_with(lib)) {
            const std::string_view rest = std::string_view(folder).substr(lib.size());
            if (rest.find('/') == std::string_view::npos &&
                rest.find("-linux-") != std::string_view::npos) {
                return true;
            }
        }
    }
    return false;
}

std::optional<std::string> installFolder(const std::string& executablePath,
                                         const std::vector<std::string>& searchPath) {
    const std::size_t slash = executablePath.rfind('/');
    if (slash == std::string::npos || executablePath.empty() || executablePath[0] != '/') {
        return std::nullopt;
    }
    std::string folder = slash == 0 ? "/" : executablePath.substr(0, slash);
    if (isSharedProgramFolder(folder, searchPath)) {
        return std::nullopt;
    }
    return folder;
}

bool isLauncherProgram(std::string_view executablePath) {
    static constexpr std::array<std::string_view, 26> launchers = {
        "sh",     "bash",     "dash",       "zsh",  "fish",   "ksh",      "env", "flatpak", "snap",
        "bwrap",  "perl",     "ruby",       "java", "node",   "nodejs",   "gjs", "mono",    "wine",
        "wine64", "xdg-open", "gtk-launch", "sudo", "pkexec", "electron", "lua", "tclsh"};
    const std::string_view name = baseName(executablePath);
    if (std::find(launchers.begin(), launchers.end(), name) != launchers.end()) {
        return true;
    }
    // Versioned interpreters: python3, python3.11, pypy3, electron25, ...
    for (std::string_view prefix : {"python", "pypy", "electron", "perl", "ruby", "lua"}) {
        if (name.starts_with(prefix)) {
            const std::string_view rest = name.substr(prefix.size());
            if (std::all_of(rest.begin(), rest.end(),
                            [](char c) { return (c >= '0' && c <= '9') || c == '.'; })) {
                return true;
            }
        }
    }
    return false;
}

bool isSandboxLauncher(std::string_view executablePath) {
    return baseName(executablePath) == "bwrap";
}

} // namespace brindell
