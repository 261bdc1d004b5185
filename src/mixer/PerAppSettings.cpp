#include "mixer/PerAppSettings.h"

#include <utility>

namespace brindell {

PerAppSettings::PerAppSettings(std::shared_ptr<TapSessionManager> manager,
                               std::shared_ptr<AppSettingsStore> store)
    : manager_(std::move(manager)), store_(std::move(store)) {}

void PerAppSettings::attach(pid_type pid, const std::optional<std::string>& bundleID) {
    AppSetting remembered;
    if (bundleID) {
        remembered = store_->setting(*bundleID);
    }

    try {
        manager_->start(pid, remembered.outputDeviceUID);
    } catch (const TapSessionManager::StartError& error) {
        if (error.kind() != TapSessionManager::StartError::Kind::deviceUnavailable ||
            !remembered.outputDeviceUID) {
            throw;
        }
        manager_->start(pid, std::nullopt);
        // The session now waits for the remembered device and moves there when it returns;
        // meanwhile the app plays untouched on the default output.
        manager_->setOutput(pid, remembered.outputDeviceUID);
    }

    // A pid is reused once its process has exited: what was recorded for the old process must
    // not catch the new one's changes.
    if (bundleID) {
        bundleIDs_[pid] = *bundleID;
    } else {
        bundleIDs_.erase(pid);
    }
    manager_->setVolume(pid, remembered.volume);
    if (manager_->session(pid)) {
        manager_->setMuted(pid, remembered.isMuted);
    }
}

void PerAppSettings::detach(pid_type pid) {
    bundleIDs_.erase(pid);
}

std::optional<std::string> PerAppSettings::bundleID(pid_type pid) const {
    const auto found = bundleIDs_.find(pid);
    if (found == bundleIDs_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void PerAppSettings::resetSession(pid_type pid) {
    if (manager_->session(pid)) {
        manager_->setVolume(pid, 1.0f);
        manager_->setMuted(pid, false);
    }
    manager_->setOutput(pid, std::nullopt);
}

void PerAppSettings::reset(const std::string& bundleID) {
    if (store_->apps().erase(bundleID) > 0) {
        store_->flush();
    }
    for (const auto& [pid, id] : bundleIDs_) {
        if (id == bundleID) {
            resetSession(pid);
        }
    }
}

void PerAppSettings::resetAll() {
    if (!store_->apps().empty()) {
        store_->apps().clear();
        store_->flush();
    }
    for (const auto& [pid, id] : bundleIDs_) {
        resetSession(pid);
    }
}

} // namespace brindell
