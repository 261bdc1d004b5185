#pragma once

#include "queue/Clock.h"
#include "sources/DesktopEntry.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace brindell {

// The installed applications: every desktop entry under <data dir>/applications of the given
// data dirs (highest precedence first, as XDG_DATA_HOME then XDG_DATA_DIRS), with the ids,
// precedence and Hidden rules of the desktop entry specification. Rebuilt when one of its
// folders changes, checked at most once per recheckInterval.
//
// Threading: every operation may be called from any thread; they are serialised.
class DesktopEntryIndex {
public:
    struct Options {
        std::vector<std::string> dataDirs;
        Locale locale;
        std::vector<std::string> searchPath; // resolves Exec programs given without a path
        Seconds recheckInterval = 1.0;
        std::size_t maxEntryBytes = 256 * 1024; // larger files are not desktop entries
    };

    DesktopEntryIndex(Options options, const Clock& clock);

    // The entry with this id; failing an exact match, the one id equal to it but for letter
    // case. Hidden entries count as deleted.
    std::optional<DesktopEntry> entry(const std::string& id);
    // The entry in this file, read afresh; none when it cannot be read or is no application.
    std::optional<DesktopEntry> entryAt(const std::string& path) const;

    // The application an executable belongs to: the one whose Exec (or TryExec) program is this
    // file, else the one whose program sits in a folder of its own that holds the executable.
    // Shells, interpreters and sandbox launchers match nothing; neither does a program claimed
    // by several applications, unless one of them is named after it.
    std::optional<DesktopEntry> entryForExecutable(const std::string& executablePath);

    std::size_t size();

private:
    void refreshIfDue();         // expects mutex_ held
    void rebuild();              // expects mutex_ held
    bool foldersChanged() const; // expects mutex_ held
    void scan(const std::filesystem::path& applications, const std::filesystem::path& folder,
              int depth, std::set<std::string>& seen);
    std::optional<std::string> resolveProgram(const std::string& program) const;
    std::optional<DesktopEntry> pick(const std::set<std::string>& ids,
                                     const std::string& executablePath) const;

    const Options options_;
    const Clock& clock_;
    mutable std::mutex mutex_;
    bool built_ = false;
    Seconds lastCheck_ = 0;
    std::filesystem::file_time_type scannedAt_;
    std::map<std::filesystem::path, std::optional<std::filesystem::file_time_type>> folders_;
    std::map<std::string, DesktopEntry> entries_;
    std::map<std::string, std::set<std::string>> byProgram_;
    std::map<std::string, std::set<std::string>> byFolder_;
    std::map<std::string, std::set<std::string>> byLowerID_;
};

// The executable file a program name stands for: itself when it is an absolute path, else the
// first executable file of that name in the absolute folders of the search path.
std::optional<std::string> findExecutable(const std::string& program,
                                          const std::vector<std::string>& searchPath);
// The same with every symbolic link resolved.
std::optional<std::string> resolveExecutable(const std::string& program,
                                             const std::vector<std::string>& searchPath);

} // namespace brindell
