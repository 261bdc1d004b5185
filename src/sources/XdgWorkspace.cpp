#include "sources/XdgWorkspace.h"

#include "sources/SoundSettings.h"

#include <algorithm>
#include <cstdlib>

namespace brindell {
namespace {

std::vector<std::string> splitPathList(const std::string& list) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos) {
            end = list.size();
        }
        std::string item = list.substr(start, end - start);
        while (item.size() > 1 && item.back() == '/') {
            item.pop_back();
        }
        // Relative entries are invalid in these lists; duplicates add nothing.
        if (!item.empty() && item.front() == '/' &&
            std::find(out.begin(), out.end(), item) == out.end()) {
            out.push_back(std::move(item));
        }
        start = end + 1;
    }
    return out;
}

std::optional<std::string> nonEmpty(const XdgWorkspace::Environment& environment,
                                    const std::string& name) {
    auto value = environment(name);
    if (value && value->empty()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

XdgWorkspace::Options XdgWorkspace::Options::fromEnvironment(const Environment& environment) {
    Options options;
    const std::optional<std::string> home = nonEmpty(environment, "HOME");

    std::vector<std::string> dataDirs;
    if (const auto dataHome = nonEmpty(environment, "XDG_DATA_HOME")) {
        dataDirs = splitPathList(*dataHome);
        dataDirs.resize(std::min<std::size_t>(dataDirs.size(), 1));
    } else if (home) {
        dataDirs = splitPathList(*home + "/.local/share");
    }
    for (std::string& dir : splitPathList(
             nonEmpty(environment, "XDG_DATA_DIRS").value_or("/usr/local/share:/usr/share"))) {
        dataDirs.push_back(std::move(dir));
    }
    // Sessions started without the Flatpak or Snap profile scripts still see those apps.
    std::vector<std::string> extra;
    if (home) {
        extra.push_back(*home + "/.local/share/flatpak/exports/share");
    }
    extra.push_back("/var/lib/flatpak/exports/share");
    extra.push_back("/var/lib/snapd/desktop");
    for (std::string& dir : extra) {
        if (std::find(dataDirs.begin(), dataDirs.end(), dir) == dataDirs.end()) {
            dataDirs.push_back(std::move(dir));
        }
    }
    options.dataDirs = std::move(dataDirs);
    options.searchPath =
        splitPathList(nonEmpty(environment, "PATH").value_or("/usr/local/bin:/usr/bin:/bin"));
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const auto locale = nonEmpty(environment, name)) {
            options.locale = Locale::parse(*locale);
            break;
        }
    }
    return options;
}

XdgWorkspace::Options XdgWorkspace::Options::fromEnvironment() {
    return fromEnvironment([](const std::string& name) -> std::optional<std::string> {
        const char* value = std::getenv(name.c_str());
        return value ? std::optional<std::string>(value) : std::nullopt;
    });
}

XdgWorkspace::XdgWorkspace(Options options, Launcher launcher, const Clock& clock)
    : options_(std::move(options)), launcher_(std::move(launcher)),
      proc_(std::make_shared<ProcFileSystem>(options_.procRoot)),
      index_(std::make_shared<DesktopEntryIndex>(
          DesktopEntryIndex::Options{options_.dataDirs, options_.locale, options_.searchPath,
                                     options_.entryRecheckInterval},
          clock)),
      running_(proc_, index_, options_.searchPath, clock, options_.scanInterval) {}

void XdgWorkspace::notifyWake() {
    wake_.notify();
}

void XdgWorkspace::reportApplicationID(pid_type pid, std::string applicationID) {
    running_.reportApplicationID(pid, std::move(applicationID));
}

void XdgWorkspace::reportApplicationName(pid_type pid, std::string name) {
    if (name.empty()) {
        return;
    }
    std::uint64_t start = 0;
    if (isHostPID(pid)) {
        const auto stat = proc_->stat(pid);
        if (!stat) {
            return; // gone already
        }
        start = stat->startTime;
    }
    const std::lock_guard lock(namesMutex_);
    names_[pid] = {start, std::move(name)};
    // Bounded: processes that have gone drop out, then the lowest pids.
    constexpr std::size_t limit = 256;
    if (names_.size() > limit) {
        std::erase_if(names_, [&](const auto& entry) {
            if (!isHostPID(entry.first)) {
                return false;
            }
            const auto alive = proc_->stat(entry.first);
            return !alive || alive->startTime != entry.second.first;
        });
    }
    for (auto it = names_.begin(); names_.size() > limit && it != names_.end();) {
        it = it->first == pid ? std::next(it) : names_.erase(it);
    }
}

std::optional<std::string> XdgWorkspace::givenName(pid_type pid) {
    {
        const std::lock_guard lock(namesMutex_);
        if (const auto found = names_.find(pid); found != names_.end()) {
            if (!isHostPID(pid)) {
                return found->second.second;
            }
            const auto stat = proc_->stat(pid);
            if (stat && stat->startTime == found->second.first) {
                return found->second.second;
            }
        }
    }
    return proc_->commandName(pid);
}

std::optional<std::string> XdgWorkspace::applicationID(pid_type pid) {
    return running_.applicationID(pid);
}

std::vector<std::string> XdgWorkspace::iconFolders() const {
    std::vector<std::string> folders;
    for (const std::string& dir : options_.dataDirs) {
        folders.push_back(dir + "/icons");
    }
    folders.push_back("/usr/share/pixmaps");
    return folders;
}

std::optional<IconReference> XdgWorkspace::iconReference(const std::string& icon) {
    if (icon.empty()) {
        return std::nullopt;
    }
    if (icon.front() == '/') {
        return IconReference::file(icon);
    }
    if (icon.find('/') != std::string::npos) {
        return std::nullopt;
    }
    std::string name = icon;
    for (const char* extension : {".png", ".svg", ".xpm"}) {
        if (name.ends_with(extension) && name.size() > std::string_view(extension).size()) {
            name.resize(name.size() - std::string_view(extension).size());
            break;
        }
    }
    return IconReference::theme(std::move(name));
}

std::vector<RunningAppRef> XdgWorkspace::runningApps() {
    return running_.list();
}

std::optional<pid_type> XdgWorkspace::parentPID(pid_type pid) {
    return proc_->parentPID(pid);
}

std::optional<std::string> XdgWorkspace::executablePath(pid_type pid) {
    return proc_->executablePath(pid);
}

std::optional<RunningAppDetails> XdgWorkspace::runningApplication(pid_type pid) {
    const auto app = running_.find(pid);
    if (!app) {
        return std::nullopt;
    }
    RunningAppDetails details;
    if (const auto entry = index_->entry(app->bundleID)) {
        details.localizedName = entry->name;
        if (entry->icon) {
            details.icon = iconReference(*entry->icon);
        }
    }
    return details;
}

std::optional<std::string> XdgWorkspace::applicationBundle(const std::string& bundleID) {
    const auto entry = index_->entry(bundleID);
    return entry ? std::optional(entry->path) : std::nullopt;
}

std::optional<std::string> XdgWorkspace::bundleContaining(const std::string& executablePath) {
    const auto entry = index_->entryForExecutable(executablePath);
    return entry ? std::optional(entry->path) : std::nullopt;
}

std::optional<BundleNames> XdgWorkspace::bundleNames(const std::string& bundlePath) {
    const auto entry = index_->entryAt(bundlePath);
    if (!entry) {
        return std::nullopt;
    }
    return BundleNames{entry->name, entry->unlocalizedName};
}

std::string XdgWorkspace::bundleDisplayName(const std::string& bundlePath) {
    std::string name = bundlePath.substr(bundlePath.rfind('/') + 1);
    if (name.ends_with(".desktop") && name.size() > std::string_view(".desktop").size()) {
        name.resize(name.size() - std::string_view(".desktop").size());
    }
    return name;
}

IconReference XdgWorkspace::fileIcon(const std::string& bundlePath) {
    if (const auto entry = index_->entryAt(bundlePath); entry && entry->icon) {
        if (auto icon = iconReference(*entry->icon)) {
            return *icon;
        }
    }
    return executableIcon();
}

IconReference XdgWorkspace::executableIcon() {
    return IconReference::theme(executableIconName);
}

std::unique_ptr<WakeObservation> XdgWorkspace::observeWake(std::function<void()> callback) {
    return wake_.add(std::move(callback));
}

bool XdgWorkspace::openSoundSettings() {
    if (!launcher_) {
        return false;
    }
    const auto command = soundSettingsCommand(options_.searchPath);
    return command && launcher_(*command);
}

} // namespace brindell
