#include "mixer/PreviewContent.h"

#include "mixer/PreviewMixerEngine.h"

#include <algorithm>
#include <array>

namespace brindell {

namespace {

struct Named {
    PreviewState state;
    const char* name;
};

constexpr std::array<Named, 6> names{{
    {PreviewState::canned, "canned"},
    {PreviewState::granted, "granted"},
    {PreviewState::denied, "denied"},
    {PreviewState::noOutput, "no-output"},
    {PreviewState::fixedVolume, "fixed-volume"},
    {PreviewState::empty, "empty"},
}};

constexpr std::array<const char*, 12> extraNames{
    "Podcasts", "Terminal",   "Chat",    "Video Player",  "Radio",       "Meeting",
    "Synth",    "Audiobooks", "Browser", "Game Launcher", "Voice Notes", "Sound Recorder",
};

MixerRowStatus extraStatus(int index) {
    switch (index % 6) {
    case 1:
        return MixerRowStatus::starting();
    case 3:
        return MixerRowStatus::drmRestricted();
    case 5:
        return MixerRowStatus::captureFailed("The audio system refused the link step (error -5).");
    default:
        return MixerRowStatus::ok();
    }
}

} // namespace

std::optional<PreviewState> previewStateNamed(const std::string& name) {
    for (const auto& entry : names) {
        if (name == entry.name) {
            return entry.state;
        }
    }
    return std::nullopt;
}

std::vector<std::string> previewStateNames() {
    std::vector<std::string> result;
    for (const auto& entry : names) {
        result.emplace_back(entry.name);
    }
    return result;
}

MixerSnapshot previewSnapshot(PreviewState state, int extraRows) {
    MixerSnapshot snapshot = PreviewMixerEngine::cannedSnapshot();
    const int extra = std::clamp(extraRows, 0, maxExtraRows);
    for (int i = 0; i < extra; ++i) {
        MixerRow row;
        row.pid = 100 + i;
        const std::string name = extraNames[static_cast<std::size_t>(i) % extraNames.size()];
        row.name = i < static_cast<int>(extraNames.size())
                       ? name
                       : name + " " + std::to_string(i / static_cast<int>(extraNames.size()) + 1);
        if (i % 7 != 4) { // now and then a process without an application id
            row.bundleID = "com.example.extra" + std::to_string(i);
        }
        row.volume = static_cast<float>((i * 37) % 100) / 100.0f;
        row.isMuted = i % 5 == 2;
        row.isActive = i % 4 != 3;
        if (i % 3 == 1) {
            row.outputUID = i % 2 == 0 ? "hdmi" : "bt";
        }
        row.status = extraStatus(i);
        snapshot.rows.push_back(std::move(row));
    }
    switch (state) {
    case PreviewState::canned:
        break;
    case PreviewState::granted:
        snapshot.permission = PermissionState::granted;
        break;
    case PreviewState::denied:
        snapshot.permission = PermissionState::likelyDenied;
        for (auto& row : snapshot.rows) {
            row.status = MixerRowStatus::needsPermission();
        }
        break;
    case PreviewState::noOutput:
        snapshot.master.reset();
        snapshot.defaultOutputName.reset();
        break;
    case PreviewState::fixedVolume:
        snapshot.master = OutputState{"hdmi", "Monitor", std::nullopt, std::nullopt};
        snapshot.defaultOutputName = "Monitor";
        break;
    case PreviewState::empty:
        snapshot.rows.clear();
        break;
    }
    return snapshot;
}

} // namespace brindell
