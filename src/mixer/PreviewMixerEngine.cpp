#include "mixer/PreviewMixerEngine.h"

#include "audio/Volume.h"

#include <algorithm>
#include <cmath>

namespace brindell {

MixerSnapshot PreviewMixerEngine::cannedSnapshot() {
    MixerSnapshot snapshot;
    snapshot.master = OutputState{"builtin", "Built-in Speakers", 0.6f, false};
    snapshot.defaultOutputName = "Built-in Speakers";
    snapshot.permission = PermissionState::unknown;
    snapshot.outputs = {
        {"builtin", "Built-in Speakers", DeviceTransport::builtIn},
        {"bt", "Headphones", DeviceTransport::bluetooth},
        {"hdmi", "Monitor", DeviceTransport::hdmi},
    };
    const auto row = [](pid_type pid, std::string bundleID, std::string name, float volume,
                        bool muted, bool active, std::optional<std::string> output,
                        MixerRowStatus status) {
        MixerRow result;
        result.pid = pid;
        result.bundleID = std::move(bundleID);
        result.name = std::move(name);
        result.volume = volume;
        result.isMuted = muted;
        result.isActive = active;
        result.outputUID = std::move(output);
        result.status = std::move(status);
        return result;
    };
    snapshot.rows = {
        row(1, "com.example.music", "Music", 0.8f, false, true, std::nullopt, MixerRowStatus::ok()),
        row(2, "com.example.call", "Video Call", 1.0f, false, true, "bt", MixerRowStatus::ok()),
        row(3, "com.example.browser", "Browser Helper", 0.3f, true, false, std::nullopt,
            MixerRowStatus::ok()),
        row(4, "com.example.game", "Game", 0.5f, false, true, "usb",
            MixerRowStatus::waitingForDevice()),
    };
    return snapshot;
}

PreviewMixerEngine::PreviewMixerEngine(MixerSnapshot current) : current_(std::move(current)) {}

void PreviewMixerEngine::publish(MixerSnapshot snapshot) {
    current_ = std::move(snapshot);
    changed();
}

MixerRow* PreviewMixerEngine::row(pid_type pid) {
    const auto found = std::find_if(current_.rows.begin(), current_.rows.end(),
                                    [pid](const MixerRow& row) { return row.pid == pid; });
    return found == current_.rows.end() ? nullptr : &*found;
}

void PreviewMixerEngine::changed() {
    if (onChange_) {
        onChange_();
    }
    if (levelsWanted_ && onLevels_) {
        onLevels_(levels());
    }
}

void PreviewMixerEngine::setLevelsWanted(bool wanted) {
    levelsWanted_ = wanted;
    if (wanted && onLevels_) {
        onLevels_(levels());
    }
}

MixerLevels PreviewMixerEngine::levels() {
    MixerLevels result;
    for (const MixerRow& row : current_.rows) {
        if (row.status.kind() != MixerRowStatus::Kind::ok) {
            continue;
        }
        const float peak = 0.4f + 0.1f * static_cast<float>(row.pid % 4);
        const float volume = cleanVolume(row.volume, 0.0f);
        result[row.pid] = row.isMuted ? 0.0f : peak * volume;
    }
    return result;
}

void PreviewMixerEngine::setVolume(pid_type pid, float volume) {
    if (auto* found = row(pid)) {
        found->volume = volume;
    }
    changed();
}

void PreviewMixerEngine::setMuted(pid_type pid, bool muted) {
    if (auto* found = row(pid)) {
        found->isMuted = muted;
    }
    changed();
}

void PreviewMixerEngine::setOutput(pid_type pid, std::optional<std::string> uid) {
    if (auto* found = row(pid)) {
        found->outputUID = std::move(uid);
        found->status = MixerRowStatus::ok();
    }
    changed();
}

void PreviewMixerEngine::setMasterVolume(float volume) {
    if (current_.master) {
        current_.master->volume = volume;
    }
    changed();
}

void PreviewMixerEngine::setMasterMuted(bool muted) {
    if (current_.master) {
        current_.master->isMuted = muted;
    }
    changed();
}

void PreviewMixerEngine::setDefaultOutput(std::string uid) {
    const auto found =
        std::find_if(current_.outputs.begin(), current_.outputs.end(),
                     [&uid](const OutputChoice& output) { return output.uid == uid; });
    if (found != current_.outputs.end() && current_.master) {
        current_.master->deviceUID = found->uid;
        current_.master->deviceName = found->name;
    }
    changed();
}

void PreviewMixerEngine::forgetSettings(std::string bundleID) {
    std::erase_if(current_.rows,
                  [&bundleID](const MixerRow& row) { return row.bundleID == bundleID; });
    changed();
}

void PreviewMixerEngine::forgetAllSettings() {
    current_.rows.clear();
    changed();
}

void PreviewMixerEngine::recheckPermission() {
    current_.permission = PermissionState::unknown;
    changed();
}

} // namespace brindell
