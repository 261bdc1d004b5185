#pragma once

#include "mixer/MixerEngine.h"
#include "mixer/PerAppSettings.h"
#include "mixer/SourceVisibilityModel.h"
#include "output/OutputDeviceController.h"
#include "permission/CaptureFailureClassifier.h"
#include "permission/PermissionMonitor.h"
#include "queue/SerialQueue.h"
#include "settings/AppSettingsStore.h"
#include "sources/AudioSourceMonitor.h"
#include "sources/Workspace.h"
#include "tapengine/TapSessionManager.h"

#include <atomic>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace brindell {

// The MixerEngine on the real audio system. It joins the source monitor (who plays), the
// visibility model (who is listed), the session manager (one tap session per playing member
// process of a listed application), the per-app settings (what each application was set to),
// the output device controller (the system output) and the permission monitor (whether capture
// works at all), keeps exactly the right sessions alive, and builds the snapshot the panel
// shows.
//
// Threading: everything it owns lives on one serial queue (the production one is labelled
// queueLabel): the manager's control side and polls, the monitor's polls, the visibility model,
// the per-app settings and their store, the permission monitor and the output controller.
// Public operations may be called from any thread but the queue's: they submit their work and
// return at once, except snapshot(), levels() and stop(), which wait for it. Work on the queue
// may wait for the audio server (up to its adapter's time-out per step), so the main thread
// never waits for the queue: every change publishes a fresh snapshot, read by
// publishedSnapshot() under a lock of its own, before the change callback is called on the
// queue. The wake notification arrives on the workspace's thread and only
// submits work. The render callbacks on the hardware's real-time threads share nothing with the
// engine but the sessions' TapIOState memory.
//
// Ownership: owned by a shared_ptr (use create); every callback it hands out, to its
// collaborators, its timers and the workspace, holds it weakly and does nothing once it is
// gone. It owns its collaborators and its queue.
class LiveMixerEngine final : public MixerEngine,
                              public std::enable_shared_from_this<LiveMixerEngine> {
    struct Token {
        explicit Token() = default;
    };

public:
    using Now = std::function<Seconds()>;

    static constexpr const char* queueLabel = "com.quorvel.taskor.brindell.mixer";
    static constexpr const char* namePrefix = "Brindell";
    static constexpr const char* uidPrefix = "com.quorvel.";

    static constexpr Seconds sessionPollInterval = 0.25;
    static constexpr Seconds monitorPollInterval = 3.0;
    static constexpr Seconds masterCoalescing = 0.05;
    static constexpr Seconds tickInterval = 0.5;
    static constexpr Seconds visibilityCoolDown = 5.0;
    // On PipeWire a refusal is an error, never silence: an app playing silence, paused inside
    // its stream or muted in another mixer keeps a running stream, so silence alone never
    // makes the verdict.
    static constexpr Seconds silenceThreshold = std::numeric_limits<Seconds>::infinity();
    // What the audio system answers when it refuses Brindell an operation: -EPERM, -EACCES.
    static const std::set<std::int32_t>& refusalStatuses();
    // At most one settings write per this interval while a slider moves.
    static constexpr Seconds volumeSaveInterval = 0.25;
    // After a wake, silence is not taken as a refusal for this long: the audio system may take
    // a while to deliver again.
    static constexpr Seconds wakeGracePeriod = 10.0;
    // Start failures right after a wake are retried once, this much later.
    static constexpr Seconds wakeRetryDelay = 3.0;
    // A start that timed out waiting for the audio server is tried again this much later, for
    // as long as it times out.
    static constexpr Seconds startRetryDelay = 2.0;

    // The platform services the engine is built from; see create(Parts).
    struct Parts {
        std::shared_ptr<AudioHardware> hardware;
        std::shared_ptr<AudioProcessSource> processSource;
        std::shared_ptr<AppInfoProvider> appInfo;
        std::shared_ptr<SystemAudioControl> systemControl;
        std::shared_ptr<AppSettingsStore> settingsStore; // "perAppSettings", loaded
        std::shared_ptr<ProcessGrouper> grouper;
        std::shared_ptr<Workspace> workspace;
        pid_type ownPID = 0; // never listed
        // The engine's clock: cool-downs and the permission's timing. Empty: the queue's clock.
        Now now;
        // Empty: a thread-backed queue labelled queueLabel.
        std::shared_ptr<SerialQueue> queue;
    };

    // The engine's collaborators, built and owned by it, wired only by its constructor.
    struct Collaborators {
        std::shared_ptr<SerialQueue> queue;
        std::shared_ptr<TapSessionManager> manager;
        std::shared_ptr<PerAppSettings> settings; // over the same manager
        std::shared_ptr<AudioSourceMonitor> monitor;
        std::shared_ptr<SourceVisibilityModel> visibility;
        std::shared_ptr<OutputDeviceController> master;
        std::shared_ptr<Workspace> workspace;
        Now now;
    };

    // Builds the collaborators from the platform services, as the shell does: a session manager
    // named "Brindell"/"com.quorvel.", per-app settings over it and the store, a source monitor
    // ignoring the own pid, a visibility model with a 5-second cool-down and an output
    // controller. Throws std::invalid_argument when a part is missing.
    static std::shared_ptr<LiveMixerEngine> create(Parts parts);
    static std::shared_ptr<LiveMixerEngine> create(Collaborators collaborators);

    LiveMixerEngine(Token, Collaborators collaborators);
    ~LiveMixerEngine() override;
    LiveMixerEngine(const LiveMixerEngine&) = delete;
    LiveMixerEngine& operator=(const LiveMixerEngine&) = delete;

    // --- the shell's operations ----------------------------------------------------------
    // Sweeps leftovers of earlier runs, starts the session polls, the source monitor, the
    // output controller and the engine's tick on the queue, and follows wakes from sleep.
    void start();
    // Ends all work and waits for it: stops following wakes, ticks and pending saves, writes
    // unsaved settings, stops the monitor, the output controller and the polls, and ends every
    // session. Final: later source changes, wakes and retries do nothing.
    void stop();
    // Ends every session, sweeps leftovers and starts the live sessions again.
    void resetAudio();

    // --- MixerEngine ----------------------------------------------------------------------
    void setOnChange(ChangeCallback callback) override;
    MixerSnapshot snapshot() override;
    std::optional<MixerSnapshot> publishedSnapshot() override;
    void setVolume(pid_type pid, float volume) override;
    void setMuted(pid_type pid, bool muted) override;
    void setOutput(pid_type pid, std::optional<std::string> uid) override;
    void setMasterVolume(float volume) override;
    void setMasterMuted(bool muted) override;
    void setDefaultOutput(std::string uid) override;
    void beginInteraction(pid_type pid) override;
    void endInteraction() override;
    void forgetSettings(std::string bundleID) override;
    void forgetAllSettings() override;
    void recheckPermission() override;
    void setOnLevels(LevelsCallback callback) override;
    void setLevelsWanted(bool wanted) override;
    MixerLevels levels() override;
    void readLevels(LevelsCallback done) override;

    // A member whose IO has run no cycle for this long (its stream paused, its device stalled)
    // shows silence rather than its last peak.
    static constexpr Seconds levelStaleAfter = 0.5;

    // --- inspection, on the queue only ----------------------------------------------------
    const std::shared_ptr<SerialQueue>& queue() const { return queue_; }
    TapSessionManager& manager() { return *manager_; }
    PerAppSettings& settings() { return *settings_; }
    SourceVisibilityModel& visibility() { return *visibility_; }
    OutputDeviceController& master() { return *master_; }
    const PermissionMonitor& permission() const { return permission_; }
    CaptureFailureClassifier& classifier() { return classifier_; }
    const std::map<pid_type, MixerRowStatus>& startErrors() const { return startErrors_; }
    bool isStopped() const { return stopped_; }
    bool isReadingLevels() const { return levelsTimer_ != nullptr; }

private:
    void wire();
    // Runs work on the queue for an operation: weakly held, skipped once the engine is gone.
    void submit(std::function<void(LiveMixerEngine&)> work);
    // Runs work on the queue and waits; directly when already on it.
    void runAndWait(const std::function<void()>& work);
    void notifyChange();

    void startOnQueue();
    void stopOnQueue();
    void reconcile();
    void startSession(pid_type pid, const AudioSource& source);
    MixerRowStatus startFailureStatus(std::exception_ptr error) const;
    static bool isTransient(const AudioHardwareError& error);
    void retryStart(pid_type pid);
    void tick();
    void applyVolume(pid_type pid, float volume);
    void flushPendingSave();
    void wake();
    void retryAfterWake();

    void applyLevelsWanted(bool wanted);
    void publishLevels();
    MixerLevels readLevels();

    MixerSnapshot buildSnapshot();
    MixerRow buildRow(const VisibleSource& visible) const;
    MixerRowStatus rowStatus(const std::vector<pid_type>& members) const;
    MixerRowStatus memberStatus(pid_type pid) const;
    std::vector<pid_type> members(pid_type rowPID) const;

    const std::shared_ptr<SerialQueue> queue_;
    const std::shared_ptr<TapSessionManager> manager_;
    const std::shared_ptr<PerAppSettings> settings_;
    const std::shared_ptr<AudioSourceMonitor> monitor_;
    const std::shared_ptr<SourceVisibilityModel> visibility_;
    const std::shared_ptr<OutputDeviceController> master_;
    const std::shared_ptr<Workspace> workspace_;
    const Now now_;

    // Set from any thread, called on the queue.
    std::mutex onChangeMutex_;
    ChangeCallback onChange_;
    std::mutex onLevelsMutex_;
    LevelsCallback onLevels_;
    // Every submitted operation takes the next ticket; the snapshot published at every change
    // on the queue carries the ticket of the last operation applied before it.
    std::atomic<std::uint64_t> submitted_{0};
    std::uint64_t applied_ = 0; // on the queue
    std::mutex publishedMutex_;
    MixerSnapshot published_;
    std::uint64_t publishedTicket_ = 0;

    // Held by start and stop, on the caller's thread.
    std::mutex wakeMutex_;
    std::unique_ptr<WakeObservation> wakeObserver_;

    // Everything below lives on the queue.
    std::map<pid_type, MixerRowStatus> startErrors_;
    std::set<pid_type> retrying_; // start errors with a retry scheduled
    std::optional<std::vector<OutputChoice>> cachedOutputs_;
    PermissionMonitor permission_{silenceThreshold, refusalStatuses()};
    // Refused starts since the last tick; the tick judges them, once the wake's grace is over.
    std::vector<AudioHardwareError> refusals_;
    CaptureFailureClassifier classifier_;
    std::shared_ptr<RepeatingTimer> tickTimer_;
    bool stopped_ = false;
    Seconds permissionGraceUntil_;
    Seconds lastVolumeSave_;
    std::shared_ptr<WorkItem> pendingSave_;
    std::shared_ptr<RepeatingTimer> levelsTimer_;
    // Per member pid: the IO state last read, its cycle count then, and when that count last
    // moved; a rebuilt session has a new state and starts over.
    struct LevelRead {
        const TapIOState::Memory* memory = nullptr;
        std::int64_t buffers = 0;
        Seconds advanced = 0;
    };
    std::map<pid_type, LevelRead> levelReads_;
};

} // namespace brindell
