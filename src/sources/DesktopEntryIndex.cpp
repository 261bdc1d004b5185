#include "sources/DesktopEntryIndex.h"

#include "sources/ApplicationIds.h"
#include "sources/ProcFileSystem.h"
#include "sources/TextCase.h"

#include <algorithm>
#include <chrono>
#include <unistd.h>

namespace brindell {
namespace fs = std::filesystem;
namespace {

constexpr int maxFolderDepth = 4; // applications/<vendor>/... nests only a little

std::optional<fs::file_time_type> modified(const fs::path& folder) {
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        return std::nullopt;
    }
    const auto time = fs::last_write_time(folder, error);
    return error ? std::nullopt : std::optional(time);
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The last dot-separated part of an id, lower-cased: "org.gnome.Totem" -> "totem".
std::string idTail(const std::string& id) {
    const std::size_t dot = id.rfind('.');
    return lowerCased(dot == std::string::npos ? id : id.substr(dot + 1));
}

} // namespace

std::optional<std::string> findExecutable(const std::string& program,
                                          const std::vector<std::string>& searchPath) {
    const auto runnable = [](const fs::path& path) {
        std::error_code error;
        return fs::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
    };
    if (program.empty()) {
        return std::nullopt;
    }
    if (program.find('/') != std::string::npos) {
        return program.front() == '/' && runnable(program) ? std::optional(program) : std::nullopt;
    }
    for (const std::string& folder : searchPath) {
        if (folder.empty() || folder.front() != '/') {
            continue; // relative folders on the path would depend on where Brindell started
        }
        const fs::path candidate = fs::path(folder) / program;
        if (runnable(candidate)) {
            return candidate.native();
        }
    }
    return std::nullopt;
}

std::optional<std::string> resolveExecutable(const std::string& program,
                                             const std::vector<std::string>& searchPath) {
    const auto found = findExecutable(program, searchPath);
    if (!found) {
        return std::nullopt;
    }
    std::error_code error;
    const fs::path resolved = fs::canonical(*found, error);
    return error ? std::nullopt : std::optional(resolved.native());
}

DesktopEntryIndex::DesktopEntryIndex(Options options, const Clock& clock)
    : options_(std::move(options)), clock_(clock) {}

std::size_t DesktopEntryIndex::size() {
    const std::lock_guard lock(mutex_);
    refreshIfDue();
    return entries_.size();
}

void DesktopEntryIndex::refreshIfDue() {
    const Seconds now = clock_.now();
    if (built_ && now - lastCheck_ < options_.recheckInterval) {
        return;
    }
    lastCheck_ = now;
    if (!built_ || foldersChanged()) {
        rebuild();
    }
}

bool DesktopEntryIndex::foldersChanged() const {
    // File times are coarse (a clock tick or more): a folder changed in the tick of the last
    // scan may change again without its time moving, so it is scanned again until its time
    // lies safely before that scan.
    const auto racy = scannedAt_ - std::chrono::seconds(1);
    for (const auto& [folder, time] : folders_) {
        if (modified(folder) != time || (time && *time >= racy)) {
            return true;
        }
    }
    return false;
}

void DesktopEntryIndex::rebuild() {
    built_ = true;
    scannedAt_ = fs::file_time_type::clock::now();
    folders_.clear();
    entries_.clear();
    byProgram_.clear();
    byFolder_.clear();
    byLowerID_.clear();
    std::set<std::string> seen; // ids already decided by a folder of higher precedence
    for (const std::string& dataDir : options_.dataDirs) {
        if (dataDir.empty() || dataDir.front() != '/') {
            continue; // relative entries are invalid in XDG_DATA_DIRS
        }
        const fs::path applications = fs::path(dataDir) / "applications";
        // Watched even while missing: installing the first application creates it.
        folders_[applications] = modified(applications);
        scan(applications, applications, 0, seen);
    }
    for (const auto& [id, entry] : entries_) {
        byLowerID_[lowerCased(id)].insert(id);
        std::vector<std::string> programs;
        if (const auto program = execProgram(entry.exec)) {
            programs.push_back(*program);
        }
        if (entry.tryExec) {
            programs.push_back(*entry.tryExec);
        }
        for (const std::string& program : programs) {
            const auto resolved = resolveProgram(program);
            if (!resolved || isLauncherProgram(*resolved) || isLauncherProgram(program)) {
                continue;
            }
            byProgram_[*resolved].insert(id);
            if (const auto folder = installFolder(*resolved, options_.searchPath)) {
                byFolder_[*folder].insert(id);
            }
        }
    }
}

void DesktopEntryIndex::scan(const fs::path& applications, const fs::path& folder, int depth,
                             std::set<std::string>& seen) {
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) {
        return;
    }
    std::vector<fs::path> files;
    std::vector<fs::path> subfolders;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error) {
            break;
        }
        std::error_code kindError;
        if (it->is_directory(kindError)) {
            subfolders.push_back(it->path());
        } else if (it->path().extension() == ".desktop") {
            files.push_back(it->path());
        }
    }
    for (const fs::path& file : files) {
        // The id is the path below applications/ with "/" turned into "-".
        std::string id = file.lexically_relative(applications).native();
        id.resize(id.size() - std::string_view(".desktop").size());
        std::replace(id.begin(), id.end(), '/', '-');
        if (id.empty() || seen.contains(id)) {
            continue;
        }
        auto entry = entryAt(file.native());
        if (!entry) {
            continue; // unreadable or not an application: a lower folder may have it
        }
        seen.insert(id);
        if (entry->hidden) {
            continue; // deleted, and masks the same id further down
        }
        entry->id = id;
        entries_.emplace(id, std::move(*entry));
    }
    if (depth >= maxFolderDepth) {
        return;
    }
    for (const fs::path& subfolder : subfolders) {
        folders_[subfolder] = modified(subfolder);
        scan(applications, subfolder, depth + 1, seen);
    }
}

std::optional<DesktopEntry> DesktopEntryIndex::entryAt(const std::string& path) const {
    std::error_code error;
    const auto size = fs::file_size(path, error);
    if (error || size > options_.maxEntryBytes) {
        return std::nullopt;
    }
    const auto text = ProcFileSystem::readFile(path, options_.maxEntryBytes);
    if (!text) {
        return std::nullopt;
    }
    auto entry = DesktopEntry::parse(*text, options_.locale);
    if (entry) {
        entry->path = path;
        std::string id = baseName(path);
        if (id.ends_with(".desktop")) {
            id.resize(id.size() - std::string_view(".desktop").size());
        }
        entry->id = std::move(id);
    }
    return entry;
}

std::optional<std::string> DesktopEntryIndex::resolveProgram(const std::string& program) const {
    return resolveExecutable(program, options_.searchPath);
}

std::optional<DesktopEntry> DesktopEntryIndex::entry(const std::string& id) {
    const std::lock_guard lock(mutex_);
    refreshIfDue();
    if (const auto found = entries_.find(id); found != entries_.end()) {
        return found->second;
    }
    // Ids reported by programs do not always match the entry's letter case.
    const auto found = byLowerID_.find(lowerCased(id));
    if (found == byLowerID_.end() || found->second.size() != 1) {
        return std::nullopt;
    }
    return entries_.at(*found->second.begin());
}

std::optional<DesktopEntry> DesktopEntryIndex::pick(const std::set<std::string>& ids,
                                                    const std::string& executablePath) const {
    if (ids.size() == 1) {
        return entries_.at(*ids.begin());
    }
    const std::string name = lowerCased(baseName(executablePath));
    const DesktopEntry* match = nullptr;
    for (const std::string& id : ids) {
        if (idTail(id) == name || lowerCased(id) == name) {
            if (match) {
                return std::nullopt;
            }
            match = &entries_.at(id);
        }
    }
    return match ? std::optional(*match) : std::nullopt;
}

std::optional<DesktopEntry> DesktopEntryIndex::entryForExecutable(const std::string& path) {
    if (path.empty() || path.front() != '/' || isLauncherProgram(path)) {
        return std::nullopt;
    }
    const std::lock_guard lock(mutex_);
    refreshIfDue();
    if (const auto found = byProgram_.find(path); found != byProgram_.end()) {
        return pick(found->second, path);
    }
    // The deepest folder of its own that holds the executable.
    std::string folder = path;
    while (true) {
        const std::size_t slash = folder.rfind('/');
        if (slash == 0 || slash == std::string::npos) {
            return std::nullopt;
        }
        folder.resize(slash);
        if (const auto found = byFolder_.find(folder); found != byFolder_.end()) {
            return pick(found->second, path);
        }
    }
}

} // namespace brindell
