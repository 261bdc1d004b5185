#pragma once

#include "mixer/MixerRecords.h"

#include <functional>
#include <optional>
#include <string>

namespace brindell {

// What the panel's view model drives: the live engine on the audio server, or the preview
// engine with canned data.
//
// Threading: every mutating operation only schedules its work and returns at once; the engine
// applies it on its own serial queue and then calls the change callback there. snapshot() and
// levels() wait for that queue, which may itself wait for the audio server: they are for tools
// and tests, never for the main thread and never for the queue itself. The main thread reads
// publishedSnapshot() and asks readLevels(); every other operation may be called from it.
class MixerEngine {
public:
    using ChangeCallback = std::function<void()>;
    using LevelsCallback = std::function<void(const MixerLevels&)>;

    // While levels are wanted they are read this many times a second, and never while not.
    static constexpr double levelsPerSecond = 20.0;

    virtual ~MixerEngine() = default;

    // Called, on the engine's queue, after every change of anything a snapshot shows. The
    // callback should hold its target weakly. Set it before the engine starts.
    virtual void setOnChange(ChangeCallback callback) = 0;

    // The current state, complete. Waits for the engine's queue.
    virtual MixerSnapshot snapshot() = 0;
    // The state as the engine published it with its last change, at once: never waits. None
    // while operations called before are still on their way (a later change publishes their
    // outcome). An engine whose snapshot never waits need not override it.
    virtual std::optional<MixerSnapshot> publishedSnapshot() { return snapshot(); }

    virtual void setVolume(pid_type pid, float volume) = 0;
    virtual void setMuted(pid_type pid, bool muted) = 0;
    // none: follow the system default output.
    virtual void setOutput(pid_type pid, std::optional<std::string> uid) = 0;
    virtual void setMasterVolume(float volume) = 0;
    virtual void setMasterMuted(bool muted) = 0;
    // Makes the device the system default output.
    virtual void setDefaultOutput(std::string uid) = 0;
    // The user started dragging this row's slider; the visible list keeps its order until
    // endInteraction.
    virtual void beginInteraction(pid_type pid) = 0;
    virtual void endInteraction() = 0;
    // Forgets the remembered volume, mute and output of one application, and returns its
    // running sessions to volume 1, unmuted, default output.
    virtual void forgetSettings(std::string bundleID) = 0;
    virtual void forgetAllSettings() = 0;
    // Forgets the permission verdict and tries every active source again.
    virtual void recheckPermission() = 0;

    // Called, on the engine's queue, with the rows' levels: at once when levels become wanted,
    // then levelsPerSecond times a second until they are no longer wanted. Set it before the
    // engine starts; it should hold its target weakly. An engine without audio never calls it.
    virtual void setOnLevels(LevelsCallback) {}
    // The panel is shown (true) or hidden: levels are read only in between.
    virtual void setLevelsWanted(bool) {}
    // The levels as they are now, read once. Waits for the engine's queue like snapshot.
    virtual MixerLevels levels() { return {}; }
    // Reads the levels once and hands them to done: on the engine's queue, without waiting
    // for it (an engine without a queue may call done at once).
    virtual void readLevels(LevelsCallback done) { done(levels()); }
};

} // namespace brindell
