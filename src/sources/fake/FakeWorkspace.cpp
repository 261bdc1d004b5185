#include "sources/fake/FakeWorkspace.h"

#include <algorithm>

namespace brindell {

void FakeWorkspace::addProcess(pid_type pid, std::optional<pid_type> parent,
                               std::optional<std::string> executablePath) {
    const std::lock_guard lock(mutex_);
    processes_[pid] = Process{parent, std::move(executablePath)};
}

void FakeWorkspace::setGivenName(pid_type pid, std::string name) {
    const std::lock_guard lock(mutex_);
    givenNames_[pid] = std::move(name);
}

void FakeWorkspace::addRunningApp(RunningAppRef app, RunningAppDetails details) {
    const std::lock_guard lock(mutex_);
    running_.emplace_back(std::move(app), std::move(details));
}

void FakeWorkspace::removeRunningApp(pid_type pid) {
    const std::lock_guard lock(mutex_);
    std::erase_if(running_, [&](const auto& entry) { return entry.first.pid == pid; });
}

void FakeWorkspace::install(InstalledApp app) {
    const std::lock_guard lock(mutex_);
    installed_.push_back(std::move(app));
}

void FakeWorkspace::setBundleDisplayName(const std::string& bundlePath, std::string name) {
    const std::lock_guard lock(mutex_);
    displayNames_[bundlePath] = std::move(name);
}

void FakeWorkspace::triggerWake() {
    wake_.notify();
}

std::size_t FakeWorkspace::callCount(Call call) const {
    const std::lock_guard lock(mutex_);
    const auto found = calls_.find(call);
    return found == calls_.end() ? 0 : found->second;
}

std::size_t FakeWorkspace::totalCalls() const {
    const std::lock_guard lock(mutex_);
    std::size_t total = 0;
    for (const auto& [call, count] : calls_) {
        total += count;
    }
    return total;
}

void FakeWorkspace::clearCalls() {
    const std::lock_guard lock(mutex_);
    calls_.clear();
}

void FakeWorkspace::record(Call call) {
    ++calls_[call];
}

const FakeWorkspace::InstalledApp* FakeWorkspace::findInstalled(const std::string& path) const {
    for (const InstalledApp& app : installed_) {
        if (app.bundlePath == path) {
            return &app;
        }
    }
    return nullptr;
}

std::vector<RunningAppRef> FakeWorkspace::runningApps() {
    const std::lock_guard lock(mutex_);
    record(Call::runningApps);
    std::vector<RunningAppRef> apps;
    for (const auto& entry : running_) {
        apps.push_back(entry.first);
    }
    return apps;
}

std::optional<pid_type> FakeWorkspace::parentPID(pid_type pid) {
    const std::lock_guard lock(mutex_);
    record(Call::parentPID);
    const auto found = processes_.find(pid);
    return found == processes_.end() ? std::nullopt : found->second.parent;
}

std::optional<std::string> FakeWorkspace::executablePath(pid_type pid) {
    const std::lock_guard lock(mutex_);
    record(Call::executablePath);
    const auto found = processes_.find(pid);
    return found == processes_.end() ? std::nullopt : found->second.executablePath;
}

std::optional<std::string> FakeWorkspace::givenName(pid_type pid) {
    const std::lock_guard lock(mutex_);
    record(Call::givenName);
    const auto found = givenNames_.find(pid);
    return found == givenNames_.end() ? std::nullopt : std::optional(found->second);
}

std::optional<RunningAppDetails> FakeWorkspace::runningApplication(pid_type pid) {
    const std::lock_guard lock(mutex_);
    record(Call::runningApplication);
    for (const auto& [app, details] : running_) {
        if (app.pid == pid) {
            return details;
        }
    }
    return std::nullopt;
}

std::optional<std::string> FakeWorkspace::applicationBundle(const std::string& bundleID) {
    const std::lock_guard lock(mutex_);
    record(Call::applicationBundle);
    for (const InstalledApp& app : installed_) {
        if (app.bundleID == bundleID) {
            return app.bundlePath;
        }
    }
    return std::nullopt;
}

std::optional<std::string> FakeWorkspace::bundleContaining(const std::string& executablePath) {
    const std::lock_guard lock(mutex_);
    record(Call::bundleContaining);
    for (const InstalledApp& app : installed_) {
        if (app.installFolder && executablePath.starts_with(*app.installFolder + "/")) {
            return app.bundlePath;
        }
    }
    return std::nullopt;
}

std::optional<BundleNames> FakeWorkspace::bundleNames(const std::string& bundlePath) {
    const std::lock_guard lock(mutex_);
    record(Call::bundleNames);
    const InstalledApp* app = findInstalled(bundlePath);
    return app ? app->names : std::nullopt;
}

std::string FakeWorkspace::bundleDisplayName(const std::string& bundlePath) {
    const std::lock_guard lock(mutex_);
    record(Call::bundleDisplayName);
    if (const auto found = displayNames_.find(bundlePath); found != displayNames_.end()) {
        return found->second;
    }
    std::string name = bundlePath.substr(bundlePath.rfind('/') + 1);
    if (name.ends_with(".desktop")) {
        name.resize(name.size() - std::string_view(".desktop").size());
    }
    return name;
}

IconReference FakeWorkspace::fileIcon(const std::string& bundlePath) {
    const std::lock_guard lock(mutex_);
    record(Call::fileIcon);
    const InstalledApp* app = findInstalled(bundlePath);
    return app ? app->icon : IconReference::theme(executableIconName);
}

IconReference FakeWorkspace::executableIcon() {
    const std::lock_guard lock(mutex_);
    record(Call::executableIcon);
    return IconReference::theme(executableIconName);
}

std::unique_ptr<WakeObservation> FakeWorkspace::observeWake(std::function<void()> callback) {
    return wake_.add(std::move(callback));
}

bool FakeWorkspace::openSoundSettings() {
    const std::lock_guard lock(mutex_);
    record(Call::openSoundSettings);
    return true;
}

} // namespace brindell
