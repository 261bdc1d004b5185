#include "settings/AppSettingsStore.h"

#include "audio/Volume.h"

#include <utility>

namespace brindell {

AppSettingsStore::AppSettingsStore(std::shared_ptr<SettingsStorage> storage)
    : storage_(std::move(storage)) {
    load();
}

void AppSettingsStore::load() {
    const std::optional<Blob> blob = storage_->load();
    if (!blob) {
        return;
    }
    const std::string_view text(reinterpret_cast<const char*>(blob->data()), blob->size());
    std::optional<File> file = File::decode(text);
    if (!file) {
        // Left as it is on disk: only a real change replaces it, so nothing is lost to a look.
        return;
    }
    if (file->version >= 2) {
        // A newer program wrote this; neither guess at its meaning nor overwrite it.
        isReadOnly_ = true;
        return;
    }
    for (auto& [bundleID, stored] : file->apps) {
        if (bundleID.empty()) {
            continue;
        }
        AppSetting setting = std::move(stored);
        setting.volume = cleanVolume(setting.volume, AppSetting{}.volume);
        if (setting.isDefault()) {
            continue;
        }
        apps_.emplace(bundleID, std::move(setting));
    }
}

AppSetting AppSettingsStore::setting(const std::string& bundleID) const {
    const auto found = apps_.find(bundleID);
    return found == apps_.end() ? AppSetting{} : found->second;
}

void AppSettingsStore::setVolume(float volume, const std::string& bundleID, bool persist) {
    AppSetting candidate = setting(bundleID);
    candidate.volume = volume;
    update(bundleID, std::move(candidate), persist);
}

void AppSettingsStore::setMuted(bool isMuted, const std::string& bundleID, bool persist) {
    AppSetting candidate = setting(bundleID);
    candidate.isMuted = isMuted;
    update(bundleID, std::move(candidate), persist);
}

void AppSettingsStore::setOutput(std::optional<std::string> uid, const std::string& bundleID,
                                 bool persist) {
    AppSetting candidate = setting(bundleID);
    candidate.outputDeviceUID = std::move(uid);
    update(bundleID, std::move(candidate), persist);
}

void AppSettingsStore::update(const std::string& bundleID, AppSetting candidate, bool persist) {
    if (bundleID.empty()) {
        // Could never be loaded back, and no application has it.
        return;
    }
    const auto found = apps_.find(bundleID);
    candidate.volume =
        cleanVolume(candidate.volume, found != apps_.end() ? found->second.volume : 1.0f);
    candidate.outputDeviceUID = sanitizedOutputUID(std::move(candidate.outputDeviceUID));
    if (found != apps_.end() && found->second == candidate) {
        return;
    }
    if (candidate.isDefault()) {
        if (found == apps_.end()) {
            return;
        }
        apps_.erase(found);
    } else if (found != apps_.end()) {
        found->second = std::move(candidate);
    } else {
        apps_.emplace(bundleID, std::move(candidate));
    }
    if (persist) {
        flush();
    } else {
        dirty_ = true;
    }
}

void AppSettingsStore::flush() {
    dirty_ = false;
    if (isReadOnly_) {
        return;
    }
    const std::string text = File::encode(1, apps_);
    if (!storage_->save(Blob(text.begin(), text.end()))) {
        dirty_ = true;
    }
    if (onChange) {
        onChange();
    }
}

} // namespace brindell
