#pragma once

#include "audio/AudioHardware.h"
#include "queue/SerialQueue.h"
#include "tapengine/TapIOState.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindell {

// Why a session ended.
enum class EndReason { stopped, processExited };

const char* toString(EndReason reason);

// Where a session stands. Live: starting, active and waitingForDevice.
class TapSessionState {
public:
    enum class Kind { starting, active, waitingForDevice, failed, ended };

    static TapSessionState starting() { return TapSessionState(Kind::starting); }
    static TapSessionState active() { return TapSessionState(Kind::active); }
    static TapSessionState waitingForDevice() { return TapSessionState(Kind::waitingForDevice); }
    static TapSessionState failed(std::string message);
    static TapSessionState ended(EndReason reason);

    Kind kind() const { return kind_; }
    // The failure message; empty unless failed.
    const std::string& message() const { return message_; }
    // Meaningful only when ended.
    EndReason endReason() const { return reason_; }

    bool isLive() const {
        return kind_ == Kind::starting || kind_ == Kind::active || kind_ == Kind::waitingForDevice;
    }

    // The case name with its payload in parentheses: starting, failed("..."), ended(stopped).
    std::string text() const;

    // Case and payload.
    friend bool operator==(const TapSessionState& a, const TapSessionState& b);

private:
    explicit TapSessionState(Kind kind) : kind_(kind) {}

    Kind kind_;
    std::string message_;
    EndReason reason_ = EndReason::stopped;
};

std::ostream& operator<<(std::ostream& out, const TapSessionState& state);

// Everything the manager reports, through its one callback.
struct TapSessionEvent {
    enum class Kind { stateChanged, warning, devicesChanged };

    // A session's state was set (also to the state it already had).
    static TapSessionEvent stateChanged(pid_type pid, TapSessionState state);
    // Something failed that did not, or not only, change a state; no pid for the sweep.
    static TapSessionEvent warning(std::optional<pid_type> pid, std::string message);
    // The hardware reported a change of the device list or the default output.
    static TapSessionEvent devicesChanged();

    Kind kind = Kind::devicesChanged;
    std::optional<pid_type> pid;                         // stateChanged, warning
    TapSessionState state = TapSessionState::starting(); // stateChanged
    std::string message;                                 // warning

    std::string text() const;

    // Case and payload.
    friend bool operator==(const TapSessionEvent& a, const TapSessionEvent& b);
};

std::ostream& operator<<(std::ostream& out, const TapSessionEvent& event);

// What the permission monitor and the mixer engine see of one session.
struct SessionSnapshot {
    pid_type pid = 0;
    TapSessionState state = TapSessionState::starting();
    std::optional<std::string> outputDeviceUID; // always the session's resolved output
    std::int64_t buffersSeen = 0;               // from the current IO state
    std::int64_t nonzeroBuffers = 0;
    float peak = 0.0f;

    friend bool operator==(const SessionSnapshot&, const SessionSnapshot&) = default;
};

// Owns one tap session per adjusted process: the chain process tap -> private aggregate device
// -> IO procedure that plays the process through the render callback at its own volume and
// mute. A session never mutes its application before its tap has delivered a non-silent
// buffer: it starts with an unmuted tap and passthrough off, and only then rebuilds with a
// muting tap ("confirms").
//
// Threading: confined to one serial queue, the one handed to startPolling; every operation,
// the poll timer and the device-change hop run there, and onEvent is called there,
// synchronously. The manager holds no lock. The render callbacks run on the hardware's
// real-time threads and share only their session's TapIOState memory with it.
//
// Ownership: the manager owns the sessions and, through them, the platform objects they
// create. Its timer and device-change hop hold it weakly, so polling needs it owned by a
// std::shared_ptr. Destroying it stops polling and tears down every remaining chain.
class TapSessionManager : public std::enable_shared_from_this<TapSessionManager> {
public:
    using EventCallback = std::function<void(const TapSessionEvent&)>;

    // One session. Readable (and, for volume and mute, writable) by the mixer engine on the
    // manager's queue.
    struct Session {
        pid_type pid = 0;
        AudioObjectID processObjectID = 0; // fixed at start
        // None: the session follows the system default output.
        std::optional<std::string> requestedOutputUID;
        std::string resolvedOutputUID; // the device the chain is (or is to be) built on
        // With no requested output: where another program routed the app, which the session
        // plays on instead of the default output while it is there.
        std::optional<std::string> routedOutputUID;
        TapSessionState state = TapSessionState::starting();
        std::optional<TapHandle> tap;
        std::optional<AudioObjectID> aggregate;
        std::optional<IOHandle> io;
        // What the current IO procedure reads. Never null. The IO block co-owns it, so it
        // outlives every callback even when a stopIO fails and the platform goes on calling.
        std::shared_ptr<TapIOState> ioState;
        float volume = 1.0f;
        bool muted = false;
        std::int64_t rebuildFailures = 0; // consecutive failed rebuilds after a device return
        std::int64_t pollsUntilRetry = 0; // polls to wait before the next such rebuild
        // The hardware error behind the last failure; none when it had another cause.
        std::optional<AudioHardwareError> failure;
    };

    // The error of start.
    class StartError : public std::exception {
    public:
        enum class Kind { hardware, alreadyRunning, processNotFound, deviceUnavailable };

        static StartError hardware(AudioHardwareError error);
        static StartError alreadyRunning() { return StartError(Kind::alreadyRunning); }
        static StartError processNotFound() { return StartError(Kind::processNotFound); }
        static StartError deviceUnavailable() { return StartError(Kind::deviceUnavailable); }

        Kind kind() const { return kind_; }
        // Set exactly for hardware.
        const std::optional<AudioHardwareError>& hardwareError() const { return hardware_; }

        // hardware(status("CreateProcessTap", -5)), alreadyRunning, ...
        const std::string& text() const { return text_; }
        const char* what() const noexcept override { return text_.c_str(); }

        friend bool operator==(const StartError& a, const StartError& b) {
            return a.kind_ == b.kind_ && a.hardware_ == b.hardware_;
        }

    private:
        explicit StartError(Kind kind, std::optional<AudioHardwareError> hardware = {});

        Kind kind_;
        std::optional<AudioHardwareError> hardware_;
        std::string text_;
    };

    // What a sweep removed.
    struct Removed {
        std::int64_t taps = 0;
        std::int64_t devices = 0;
        friend bool operator==(const Removed&, const Removed&) = default;
    };

    using SessionTable = std::map<pid_type, std::shared_ptr<Session>>;

    // After this many consecutive failed rebuilds on a returned device a session fails.
    static constexpr std::int64_t maxReturnRebuilds = 8;
    // Polls a session waits after a failed rebuild on a returned device before it retries.
    static constexpr std::int64_t pollsBetweenReturnRebuilds = 8;

    // namePrefix: first word of every tap and aggregate name ("Brindell"); uidPrefix: first
    // part of every aggregate UID ("com.quorvel.").
    TapSessionManager(std::string namePrefix, std::string uidPrefix,
                      std::shared_ptr<AudioHardware> hardware);
    ~TapSessionManager();
    TapSessionManager(const TapSessionManager&) = delete;
    TapSessionManager& operator=(const TapSessionManager&) = delete;

    // Receives every event, synchronously, on the manager's queue.
    void setOnEvent(EventCallback callback);

    const std::string& namePrefix() const { return namePrefix_; }
    const std::string& uidPrefix() const { return uidPrefix_; }
    // Confirming rebuilds attempted since creation; never reset.
    std::int64_t confirmations() const { return confirmations_; }
    // Whether the hardware's audio server can be reached now; never waits.
    bool isServerReachable() const { return hardware_->isServerReachable(); }
    // The session table, ascending by pid. Holds live and failed sessions, never ended ones.
    const SessionTable& sessions() const { return sessions_; }
    std::shared_ptr<Session> session(pid_type pid) const;
    bool isPolling() const { return timer_ != nullptr; }

    // Starts a session on outputUID (none: where another program routed the app, else the
    // system default output) at volume 1.0, unmuted. Replaces a failed session. On failure nothing
    // is kept and nothing is sent. Throws StartError.
    void start(pid_type pid, const std::optional<std::string>& outputUID);
    // Removes and tears down the session and reports it ended(stopped); unknown pid: nothing.
    void stop(pid_type pid);
    void stopAll();

    // Cleaned (audio/Volume.h: NaN keeps the volume). False without a session. No rebuild.
    bool setVolume(pid_type pid, float volume);
    // No effect without a session. No rebuild.
    void setMuted(pid_type pid, bool muted);
    // Moves a live session to outputUID (none: follow the default output). False when there is
    // no session or it is not live.
    bool setOutput(pid_type pid, const std::optional<std::string>& outputUID);

    std::optional<TapSessionState> state(pid_type pid) const;
    std::optional<float> volume(pid_type pid) const;
    std::optional<bool> muted(pid_type pid) const;
    // One per session in the table, ascending by pid.
    std::vector<SessionSnapshot> snapshots() const;

    // Polls every interval seconds on queue, and after every device change the hardware
    // reports (hopping from the hardware's listener queue to queue). Replaces earlier polling.
    // Throws std::invalid_argument for an interval that is not a positive finite number or a
    // null queue, std::logic_error when the manager is not owned by a std::shared_ptr.
    void startPolling(Seconds interval, std::shared_ptr<SerialQueue> queue);
    void stopPolling();
    // Checks every session once: process exit, device loss and return, moves of the default
    // output or of another program's routing (for sessions with no requested output),
    // and confirmation of a tap that delivered sound.
    void poll();

    // Destroys taps and aggregate devices of earlier runs, recognised by their names and UIDs,
    // keeping those of the sessions in the table.
    Removed sweep();
    // Ends every session, sweeps, and starts the live ones again on their requested outputs
    // with the volume and mute they had. Returns what the sweep removed.
    Removed reset();

private:
    void send(const TapSessionEvent& event);
    void setState(Session& session, TapSessionState state);
    void warn(std::optional<pid_type> pid, std::string message);

    // Creates the chain on the session's resolved output with its current IO state. Throws
    // what the hardware threw, after tearing down what was created.
    void build(Session& session, bool tapMuted);
    // Destroys the chain in reverse order; never throws, warns on every failure.
    void teardown(Session& session);
    // Teardown, a fresh IO state from the session's volume and mute, then build.
    void rebuildChain(Session& session, bool tapMuted);
    void rebuild(const std::shared_ptr<Session>& session);
    void confirm(const std::shared_ptr<Session>& session);
    void rebuildAfterReturn(const std::shared_ptr<Session>& session);
    void fail(const std::shared_ptr<Session>& session, std::string message,
              std::exception_ptr error);
    void waitForDevice(Session& session);
    void end(const std::shared_ptr<Session>& session, EndReason reason);
    bool deviceAlive(const std::string& uid);
    // The default output's UID, none when it cannot be read.
    std::optional<std::string> readDefaultOutput();
    // Where another program routed the process, when that device is alive.
    std::optional<std::string> readRoutedOutput(AudioObjectID processObject);
    // Where a session with no requested output plays: the routed output, else the default
    // output. Keeps the routed one in the session.
    std::optional<std::string> followedOutput(Session& session);

    const std::string namePrefix_;
    const std::string uidPrefix_;
    const std::shared_ptr<AudioHardware> hardware_;
    EventCallback onEvent_;
    std::int64_t confirmations_ = 0;
    SessionTable sessions_;
    std::shared_ptr<RepeatingTimer> timer_;
    // Bumped by every start and stop of polling, so a device-change hop already on its way
    // when polling stops or restarts does nothing.
    std::uint64_t pollingGeneration_ = 0;
};

std::ostream& operator<<(std::ostream& out, const TapSessionManager::StartError& error);

} // namespace brindell
