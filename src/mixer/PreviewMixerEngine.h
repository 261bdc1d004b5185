#pragma once

#include "mixer/MixerEngine.h"

namespace brindell {

// A MixerEngine without audio: it holds one snapshot in memory, changes it directly and reports
// every change at once, on the caller's thread. The snapshot modes and the tests draw the real
// panel with it; it takes no part in normal operation.
//
// Threading: confined to one thread (the caller's); it has no queue of its own.
class PreviewMixerEngine final : public MixerEngine {
public:
    // The canned content of the snapshot modes.
    static MixerSnapshot cannedSnapshot();

    explicit PreviewMixerEngine(MixerSnapshot current = cannedSnapshot());

    // Replaces the whole snapshot, as if the audio side had changed, and reports it.
    void publish(MixerSnapshot snapshot);
    const MixerSnapshot& current() const { return current_; }

    void setOnChange(ChangeCallback callback) override { onChange_ = std::move(callback); }
    MixerSnapshot snapshot() override { return current_; }
    // The value is stored as given; the view model shows it clamped.
    void setVolume(pid_type pid, float volume) override;
    void setMuted(pid_type pid, bool muted) override;
    // Also clears a waiting status: the row's status becomes ok.
    void setOutput(pid_type pid, std::optional<std::string> uid) override;
    void setMasterVolume(float volume) override;
    void setMasterMuted(bool muted) override;
    // Renames the master section to the chosen output; defaultOutputName stays as it was.
    void setDefaultOutput(std::string uid) override;
    // Nothing to freeze, and no change reported.
    void beginInteraction(pid_type) override {}
    void endInteraction() override {}
    // Removes the application's rows.
    void forgetSettings(std::string bundleID) override;
    void forgetAllSettings() override;
    void recheckPermission() override;
    // Sample levels: every app at ok plays a fixed sample peak (0.4 to 0.7, by pid) through its
    // volume; a muted one is at 0. Reported at once when wanted, and after every change while
    // wanted.
    void setOnLevels(LevelsCallback callback) override { onLevels_ = std::move(callback); }
    void setLevelsWanted(bool wanted) override;
    MixerLevels levels() override;

private:
    MixerRow* row(pid_type pid);
    void changed();

    ChangeCallback onChange_;
    LevelsCallback onLevels_;
    bool levelsWanted_ = false;
    MixerSnapshot current_;
};

} // namespace brindell
