#include "login/AutostartLoginItem.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace brindell {

namespace {

std::string errnoText(int error) {
    return std::strerror(error);
}

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// True when the entry's [Desktop Entry] group says Hidden=true: the desktop's way of turning an
// autostart entry off without deleting it.
bool isHiddenEntry(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    bool inMainGroup = false;
    while (std::getline(in, line)) {
        const std::string_view text = trim(line);
        if (text.empty() || text.front() == '#') {
            continue;
        }
        if (text.front() == '[') {
            inMainGroup = text == "[Desktop Entry]";
            continue;
        }
        const auto equals = text.find('=');
        if (!inMainGroup || equals == std::string_view::npos) {
            continue;
        }
        if (trim(text.substr(0, equals)) == "Hidden" && trim(text.substr(equals + 1)) == "true") {
            return true;
        }
    }
    return false;
}

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        std::uint32_t minimum = 0;
        std::uint32_t value = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xe0) == 0xc0) {
            extra = 1;
            minimum = 0x80;
            value = lead & 0x1fU;
        } else if ((lead & 0xf0) == 0xe0) {
            extra = 2;
            minimum = 0x800;
            value = lead & 0x0fU;
        } else if ((lead & 0xf8) == 0xf0) {
            extra = 3;
            minimum = 0x10000;
            value = lead & 0x07U;
        } else {
            return false;
        }
        if (i + extra >= text.size()) {
            return false; // truncated sequence
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80) {
                return false;
            }
            value = (value << 6) | (next & 0x3fU);
        }
        if (value < minimum || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

} // namespace

std::string desktopExecArgument(std::string_view path) {
    if (path.empty()) {
        throw LoginItemError("the program's location is unknown");
    }
    if (!isValidUtf8(path)) {
        throw LoginItemError("the program's path is not valid UTF-8, which autostart entries need");
    }
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            throw LoginItemError("the program's path contains a line break or control character");
        }
    }
    // Quoting rules of the Exec key: inside double quotes, " ` $ and \ take a backslash, and %
    // is doubled so it is not read as a field code.
    std::string quoted = "\"";
    for (const char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        } else if (c == '%') {
            quoted += '%';
        }
        quoted += c;
    }
    quoted += '"';
    // The key's value is then a string value, where a backslash is itself written as \\.
    std::string escaped;
    for (const char c : quoted) {
        if (c == '\\') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

std::string userConfigHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.config";
    }
    if (const passwd* entry = getpwuid(getuid());
        entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/') {
        return std::string(entry->pw_dir) + "/.config";
    }
    return {};
}

std::string runningExecutablePath() {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) {
        return {};
    }
    std::string path(buffer.data(), static_cast<std::size_t>(length));
    constexpr std::string_view deleted = " (deleted)";
    if (path.size() > deleted.size() && path.ends_with(deleted)) {
        path.resize(path.size() - deleted.size());
    }
    return path;
}

AutostartLoginItem::AutostartLoginItem(std::string configHome, std::string executablePath)
    : configHome_(std::move(configHome)), executablePath_(std::move(executablePath)) {}

std::shared_ptr<AutostartLoginItem> AutostartLoginItem::forCurrentUser() {
    return std::make_shared<AutostartLoginItem>(userConfigHome(), runningExecutablePath());
}

std::string AutostartLoginItem::entryPath() const {
    return configHome_ + "/autostart/" + entryFileName;
}

std::string AutostartLoginItem::entryText() const {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Brindell\n"
           "Comment=Per-application volume mixer\n"
           "Icon=com.quorvel.taskor.brindell\n"
           "Exec=" +
           desktopExecArgument(executablePath_) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::int64_t AutostartLoginItem::status() {
    if (configHome_.empty()) {
        return 0;
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(entryPath(), error)) {
        return 0;
    }
    return isHiddenEntry(entryPath()) ? 0 : 1;
}

void AutostartLoginItem::registerItem() {
    if (configHome_.empty()) {
        throw LoginItemError("the configuration folder is unknown (neither XDG_CONFIG_HOME nor "
                             "HOME is set)");
    }
    const std::string text = entryText(); // refuses an unusable path before touching the disk
    const std::string folder = configHome_ + "/autostart";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        throw LoginItemError("the folder " + folder + " could not be created (" + error.message() +
                             ")");
    }
    const std::string target = entryPath();
    std::string temp = folder + "/." + entryFileName + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        const int code = errno;
        throw LoginItemError("the entry " + target + " could not be written (" + errnoText(code) +
                             ")");
    }
    const auto fail = [&](int code) {
        close(fd);
        unlink(temp.c_str());
        throw LoginItemError("the entry " + target + " could not be written (" + errnoText(code) +
                             ")");
    };
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(errno);
        }
        written += static_cast<std::size_t>(n);
    }
    // Desktop entries are read by the session's launcher, so world-readable like any other.
    if (fchmod(fd, 0644) != 0 || fsync(fd) != 0) {
        fail(errno);
    }
    if (close(fd) != 0) {
        const int code = errno;
        unlink(temp.c_str());
        throw LoginItemError("the entry " + target + " could not be written (" + errnoText(code) +
                             ")");
    }
    if (rename(temp.c_str(), target.c_str()) != 0) {
        const int code = errno;
        unlink(temp.c_str());
        throw LoginItemError("the entry " + target + " could not be written (" + errnoText(code) +
                             ")");
    }
}

void AutostartLoginItem::unregisterItem() {
    if (configHome_.empty()) {
        return; // nothing can have been written
    }
    const std::string target = entryPath();
    if (unlink(target.c_str()) == 0) {
        return;
    }
    const int code = errno;
    if (code != ENOENT && code != ENOTDIR) {
        throw LoginItemError("the entry " + target + " could not be removed (" + errnoText(code) +
                             ")");
    }
}

} // namespace brindell
