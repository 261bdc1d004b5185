#pragma once

#include "audio/AudioRecords.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindell {

// Reads process facts from a proc file system mounted at root (tests pass a folder of their
// own). Every read is bounded, and unreadable or malformed files read as "unknown", never as
// an error: processes come and go between two reads. A pid that is no host pid (see isHostPID)
// is never looked up. Thread-safe (keeps no state).
class ProcFileSystem {
public:
    // What /proc/PID/stat says that matters here.
    struct Stat {
        pid_type pid = 0;
        std::string command; // the comm field, without its parentheses
        pid_type parentPID = 0;
        std::uint64_t startTime = 0; // clock ticks after boot: tells a reused pid apart
        friend bool operator==(const Stat&, const Stat&) = default;
    };

    explicit ProcFileSystem(std::string root = "/proc");

    const std::string& root() const { return root_; }

    // Every numeric entry of the root, ascending.
    std::vector<pid_type> pids() const;

    std::optional<Stat> stat(pid_type pid) const;
    std::optional<pid_type> parentPID(pid_type pid) const;
    // The target of PID/exe, without the " (deleted)" mark of a replaced binary. None when it
    // cannot be read (another user's process, a kernel thread, a process that exited).
    std::optional<std::string> executablePath(pid_type pid) const;
    std::optional<std::string> cgroup(pid_type pid) const;
    // The process's Flatpak sandbox description, PID/root/.flatpak-info; none outside one.
    std::optional<std::string> flatpakInfo(pid_type pid) const;
    // The base name of argv[0], the name the program was started as (a symlink's own name, not
    // its target's). None when it cannot be read or is empty.
    std::optional<std::string> commandName(pid_type pid) const;
    // Whether the process is the program a client says it runs: binary is the base name of its
    // executable, of its argv[0], or its command (which the kernel cuts to 15 bytes). Any
    // program is when binary is empty; nothing is when the process cannot be read.
    bool runsProgram(pid_type pid, std::string_view binary) const;

    // Parses the contents of a stat file. The command may hold spaces and parentheses, so
    // the fields are counted from the last ")".
    static std::optional<Stat> parseStat(std::string_view text);

    // Reads at most limit bytes of a file; none when it cannot be opened.
    static std::optional<std::string> readFile(const std::string& path, std::size_t limit);

private:
    std::string path(pid_type pid, std::string_view leaf) const;

    std::string root_;
};

// A decimal pid in 1..INT32_MAX, nothing else (no sign, no spaces).
std::optional<pid_type> parsePID(std::string_view text);

} // namespace brindell
