#include "sources/ProcFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace brindell {
namespace {

constexpr std::size_t statLimit = 4096;
constexpr std::size_t cgroupLimit = 16 * 1024;
constexpr std::size_t flatpakInfoLimit = 64 * 1024;
constexpr std::size_t cmdlineLimit = 4096;
constexpr std::size_t commLength = 15; // TASK_COMM_LEN without its terminator
constexpr std::string_view deletedMark = " (deleted)";

template <typename Number> std::optional<Number> parseNumber(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<pid_type> parsePID(std::string_view text) {
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const auto value = parseNumber<pid_type>(text);
    if (!value || *value < 1) {
        return std::nullopt;
    }
    return value;
}

ProcFileSystem::ProcFileSystem(std::string root) : root_(std::move(root)) {}

std::string ProcFileSystem::path(pid_type pid, std::string_view leaf) const {
    std::string out = root_;
    out += '/';
    out += std::to_string(pid);
    out += '/';
    out += leaf;
    return out;
}

std::optional<std::string> ProcFileSystem::readFile(const std::string& path, std::size_t limit) {
    // Only regular files (proc files are): a FIFO or device placed where a desktop entry or a
    // sandbox description is expected must not block the caller. Non-blocking open, checked
    // before the first read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return std::nullopt;
    }
    struct ::stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    // Proc files report no size: read in chunks up to the limit.
    std::string text;
    char buffer[4096];
    while (text.size() < limit) {
        const ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, limit - text.size()));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

std::vector<pid_type> ProcFileSystem::pids() const {
    std::vector<pid_type> out;
    std::error_code error;
    std::filesystem::directory_iterator it(root_, error);
    if (error) {
        return out;
    }
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error) {
            break;
        }
        if (const auto pid = parsePID(it->path().filename().native())) {
            out.push_back(*pid);
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::optional<ProcFileSystem::Stat> ProcFileSystem::parseStat(std::string_view text) {
    const std::size_t open = text.find('(');
    const std::size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return std::nullopt;
    }
    Stat stat;
    const auto pid = parseNumber<pid_type>(text.substr(0, open == 0 ? 0 : open - 1));
    if (!pid || open == 0 || text[open - 1] != ' ') {
        return std::nullopt;
    }
    stat.pid = *pid;
    stat.command = std::string(text.substr(open + 1, close - open - 1));

    // Fields after the command, counted from 3 as in proc(5): state, ppid (4), ...,
    // starttime (22).
    std::vector<std::string_view> fields;
    std::size_t position = close + 1;
    while (position < text.size() && fields.size() < 20) {
        while (position < text.size() && (text[position] == ' ' || text[position] == '\n')) {
            ++position;
        }
        const std::size_t end = text.find_first_of(" \n", position);
        const std::size_t stop = end == std::string_view::npos ? text.size() : end;
        if (stop > position) {
            fields.push_back(text.substr(position, stop - position));
        }
        position = stop;
    }
    if (fields.size() < 20) {
        return std::nullopt;
    }
    const auto parent = parseNumber<pid_type>(fields[1]);
    const auto start = parseNumber<std::uint64_t>(fields[19]);
    if (!parent || *parent < 0 || !start) {
        return std::nullopt;
    }
    stat.parentPID = *parent;
    stat.startTime = *start;
    return stat;
}

std::optional<ProcFileSystem::Stat> ProcFileSystem::stat(pid_type pid) const {
    if (!isHostPID(pid)) {
        return std::nullopt;
    }
    const auto text = readFile(path(pid, "stat"), statLimit);
    if (!text) {
        return std::nullopt;
    }
    auto parsed = parseStat(*text);
    if (!parsed || parsed->pid != pid) {
        return std::nullopt;
    }
    return parsed;
}

std::optional<pid_type> ProcFileSystem::parentPID(pid_type pid) const {
    const auto parsed = stat(pid);
    return parsed ? std::optional(parsed->parentPID) : std::nullopt;
}

std::optional<std::string> ProcFileSystem::executablePath(pid_type pid) const {
    if (!isHostPID(pid)) {
        return std::nullopt;
    }
    std::error_code error;
    std::string target = std::filesystem::read_symlink(path(pid, "exe"), error).native();
    if (error || target.empty()) {
        return std::nullopt;
    }
    if (target.ends_with(deletedMark)) {
        target.resize(target.size() - deletedMark.size());
    }
    return target;
}

std::optional<std::string> ProcFileSystem::cgroup(pid_type pid) const {
    if (!isHostPID(pid)) {
        return std::nullopt;
    }
    return readFile(path(pid, "cgroup"), cgroupLimit);
}

std::optional<std::string> ProcFileSystem::flatpakInfo(pid_type pid) const {
    if (!isHostPID(pid)) {
        return std::nullopt;
    }
    return readFile(path(pid, "root/.flatpak-info"), flatpakInfoLimit);
}

std::optional<std::string> ProcFileSystem::commandName(pid_type pid) const {
    if (!isHostPID(pid)) {
        return std::nullopt;
    }
    const auto text = readFile(path(pid, "cmdline"), cmdlineLimit);
    if (!text) {
        return std::nullopt;
    }
    const std::string_view argv0(text->data(), std::min(text->find('\0'), text->size()));
    const std::string_view name = argv0.substr(argv0.rfind('/') + 1);
    if (name.empty()) {
        return std::nullopt;
    }
    return std::string(name);
}

bool ProcFileSystem::runsProgram(pid_type pid, std::string_view binary) const {
    const auto parsed = stat(pid);
    if (!parsed) {
        return false;
    }
    if (binary.empty()) {
        return true;
    }
    if (const auto exe = executablePath(pid); exe && exe->substr(exe->rfind('/') + 1) == binary) {
        return true;
    }
    if (const auto name = commandName(pid); name && *name == binary) {
        return true;
    }
    return !parsed->command.empty() && binary.substr(0, commLength) == parsed->command;
}

} // namespace brindell
