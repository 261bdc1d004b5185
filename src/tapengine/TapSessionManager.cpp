#include "tapengine/TapSessionManager.h"

#include "audio/Volume.h"
#include "tapengine/RenderCallback.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <set>
#include <stdexcept>
#include <uuid/uuid.h>

namespace brindell {

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// What a caught error looks like in a message, and the hardware error behind it, if any.
struct Caught {
    std::string text;
    std::optional<AudioHardwareError> hardware;
};

Caught describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const AudioHardwareError& e) {
        return {e.text(), e};
    } catch (const std::exception& e) {
        return {e.what(), std::nullopt};
    } catch (...) {
        return {"unknown error", std::nullopt};
    }
}

// A fresh random UUID in its 36-character upper-case form.
std::string newUUID() {
    uuid_t raw;
    uuid_generate_random(raw);
    char text[37];
    uuid_unparse_upper(raw, text);
    return text;
}

// The block hands the callback nothing but the memory address. It also co-owns the state, so
// the memory stays valid for as long as the hardware holds the block: after a failed stopIO the
// platform may go on calling it after the session has dropped or replaced the state. The
// reference count is touched only where the hardware copies or drops the block, never inside
// an IO cycle.
IOBlock makeSessionIOBlock(const std::shared_ptr<TapIOState>& state) {
    TapIOState::Memory* memory = state->memory();
    return withPlanarForm(
        [memory, keepAlive = state](const AudioTimeStamp&, const AudioBufferList& input,
                                    const AudioTimeStamp&, AudioBufferList& output,
                                    const AudioTimeStamp&) { renderTap(input, output, memory); },
        [memory, keepAlive = state](const AudioTimeStamp&, const PlanarCycle& cycle) {
            renderTapPlanar(cycle, memory);
        });
}

} // namespace

// --- records ---------------------------------------------------------------------------------

const char* toString(EndReason reason) {
    switch (reason) {
    case EndReason::stopped:
        return "stopped";
    case EndReason::processExited:
        return "processExited";
    }
    return "";
}

TapSessionState TapSessionState::failed(std::string message) {
    TapSessionState state(Kind::failed);
    state.message_ = std::move(message);
    return state;
}

TapSessionState TapSessionState::ended(EndReason reason) {
    TapSessionState state(Kind::ended);
    state.reason_ = reason;
    return state;
}

std::string TapSessionState::text() const {
    switch (kind_) {
    case Kind::starting:
        return "starting";
    case Kind::active:
        return "active";
    case Kind::waitingForDevice:
        return "waitingForDevice";
    case Kind::failed:
        return "failed(\"" + message_ + "\")";
    case Kind::ended:
        return std::string("ended(") + toString(reason_) + ")";
    }
    return "";
}

bool operator==(const TapSessionState& a, const TapSessionState& b) {
    if (a.kind_ != b.kind_) {
        return false;
    }
    switch (a.kind_) {
    case TapSessionState::Kind::failed:
        return a.message_ == b.message_;
    case TapSessionState::Kind::ended:
        return a.reason_ == b.reason_;
    default:
        return true;
    }
}

std::ostream& operator<<(std::ostream& out, const TapSessionState& state) {
    return out << state.text();
}

TapSessionEvent TapSessionEvent::stateChanged(pid_type pid, TapSessionState state) {
    TapSessionEvent event;
    event.kind = Kind::stateChanged;
    event.pid = pid;
    event.state = std::move(state);
    return event;
}

TapSessionEvent TapSessionEvent::warning(std::optional<pid_type> pid, std::string message) {
    TapSessionEvent event;
    event.kind = Kind::warning;
    event.pid = pid;
    event.message = std::move(message);
    return event;
}

TapSessionEvent TapSessionEvent::devicesChanged() {
    return TapSessionEvent{};
}

std::string TapSessionEvent::text() const {
    const std::string who = pid ? std::to_string(*pid) : "none";
    switch (kind) {
    case Kind::stateChanged:
        return "stateChanged(" + who + ", " + state.text() + ")";
    case Kind::warning:
        return "warning(" + who + ", \"" + message + "\")";
    case Kind::devicesChanged:
        return "devicesChanged";
    }
    return "";
}

bool operator==(const TapSessionEvent& a, const TapSessionEvent& b) {
    if (a.kind != b.kind) {
        return false;
    }
    switch (a.kind) {
    case TapSessionEvent::Kind::stateChanged:
        return a.pid == b.pid && a.state == b.state;
    case TapSessionEvent::Kind::warning:
        return a.pid == b.pid && a.message == b.message;
    case TapSessionEvent::Kind::devicesChanged:
        return true;
    }
    return false;
}

std::ostream& operator<<(std::ostream& out, const TapSessionEvent& event) {
    return out << event.text();
}

TapSessionManager::StartError::StartError(Kind kind, std::optional<AudioHardwareError> hardware)
    : kind_(kind), hardware_(std::move(hardware)) {
    switch (kind_) {
    case Kind::hardware:
        text_ = "hardware(" + hardware_->text() + ")";
        break;
    case Kind::alreadyRunning:
        text_ = "alreadyRunning";
        break;
    case Kind::processNotFound:
        text_ = "processNotFound";
        break;
    case Kind::deviceUnavailable:
        text_ = "deviceUnavailable";
        break;
    }
}

TapSessionManager::StartError TapSessionManager::StartError::hardware(AudioHardwareError error) {
    return StartError(Kind::hardware, std::move(error));
}

std::ostream& operator<<(std::ostream& out, const TapSessionManager::StartError& error) {
    return out << error.text();
}

// --- the manager -----------------------------------------------------------------------------

TapSessionManager::TapSessionManager(std::string namePrefix, std::string uidPrefix,
                                     std::shared_ptr<AudioHardware> hardware)
    : namePrefix_(std::move(namePrefix)), uidPrefix_(std::move(uidPrefix)),
      hardware_(std::move(hardware)) {
    if (!hardware_) {
        throw std::invalid_argument("TapSessionManager needs an AudioHardware");
    }
}

TapSessionManager::~TapSessionManager() {
    if (timer_) {
        stopPolling();
    }
    // Nobody is listening any more, but a muting tap left behind would keep its application
    // silent: tear every remaining chain down quietly.
    onEvent_ = nullptr;
    for (auto& [pid, session] : sessions_) {
        teardown(*session);
    }
}

void TapSessionManager::setOnEvent(EventCallback callback) {
    onEvent_ = std::move(callback);
}

std::shared_ptr<TapSessionManager::Session> TapSessionManager::session(pid_type pid) const {
    auto it = sessions_.find(pid);
    return it == sessions_.end() ? nullptr : it->second;
}

void TapSessionManager::send(const TapSessionEvent& event) {
    // A copy, so the owner may replace the callback from inside it.
    if (EventCallback callback = onEvent_) {
        callback(event);
    }
}

void TapSessionManager::setState(Session& session, TapSessionState state) {
    session.state = std::move(state);
    send(TapSessionEvent::stateChanged(session.pid, session.state));
}

void TapSessionManager::warn(std::optional<pid_type> pid, std::string message) {
    send(TapSessionEvent::warning(pid, std::move(message)));
}

bool TapSessionManager::deviceAlive(const std::string& uid) {
    // Never throws by contract; an adapter that does anyway must not break a poll.
    try {
        return hardware_->isDeviceAlive(uid);
    } catch (...) {
        return false;
    }
}

std::optional<std::string> TapSessionManager::readDefaultOutput() {
    try {
        return hardware_->defaultOutputDeviceUID();
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<std::string> TapSessionManager::readRoutedOutput(AudioObjectID processObject) {
    std::optional<std::string> routed;
    try {
        routed = hardware_->routedOutputDeviceUID(processObject);
    } catch (...) {
        return std::nullopt; // never throws by contract
    }
    // A routed device that is gone plays the app on the default output, so does the session.
    if (routed && !deviceAlive(*routed)) {
        return std::nullopt;
    }
    return routed;
}

std::optional<std::string> TapSessionManager::followedOutput(Session& session) {
    session.routedOutputUID = readRoutedOutput(session.processObjectID);
    if (session.routedOutputUID) {
        return session.routedOutputUID;
    }
    return readDefaultOutput();
}

void TapSessionManager::build(Session& session, bool tapMuted) {
    const std::string name = namePrefix_ + " " + std::to_string(session.pid);
    session.tap = hardware_->createTap(session.processObjectID, name, tapMuted);
    try {
        const AggregateSpec request{uidPrefix_ + namePrefix_ + ".agg." + newUUID(), name,
                                    session.resolvedOutputUID, session.tap->uid};
        session.aggregate = hardware_->createAggregate(request);
        session.io = hardware_->startIO(*session.aggregate, makeSessionIOBlock(session.ioState));
    } catch (...) {
        teardown(session);
        throw;
    }
}

void TapSessionManager::teardown(Session& session) {
    if (session.io) {
        const IOHandle io = *session.io;
        session.io.reset();
        try {
            hardware_->stopIO(io);
        } catch (...) {
            // The block keeps its IO state alive for as long as the hardware may call it.
            warn(session.pid, "stopIO failed: " + describe(std::current_exception()).text);
        }
    }
    if (session.aggregate) {
        const AudioObjectID aggregate = *session.aggregate;
        session.aggregate.reset();
        try {
            hardware_->destroyAggregate(aggregate);
        } catch (...) {
            warn(session.pid,
                 "destroyAggregate failed: " + describe(std::current_exception()).text);
        }
    }
    if (session.tap) {
        const AudioObjectID tap = session.tap->objectID;
        session.tap.reset();
        try {
            hardware_->destroyTap(tap);
        } catch (...) {
            warn(session.pid, "destroyTap failed: " + describe(std::current_exception()).text);
        }
    }
}

void TapSessionManager::rebuildChain(Session& session, bool tapMuted) {
    teardown(session);
    session.ioState = std::make_shared<TapIOState>(session.volume, session.muted);
    build(session, tapMuted);
}

void TapSessionManager::rebuild(const std::shared_ptr<Session>& session) {
    try {
        rebuildChain(*session, false);
    } catch (...) {
        fail(session, "rebuild failed: ", std::current_exception());
        return;
    }
    setState(*session, TapSessionState::starting());
}

void TapSessionManager::confirm(const std::shared_ptr<Session>& session) {
    ++confirmations_;
    try {
        rebuildChain(*session, true);
    } catch (...) {
        fail(session, "muting rebuild failed: ", std::current_exception());
        return;
    }
    session->ioState->memory()->passthrough.store(1, relaxed);
    setState(*session, TapSessionState::active());
}

void TapSessionManager::rebuildAfterReturn(const std::shared_ptr<Session>& session) {
    try {
        rebuildChain(*session, false);
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        session->rebuildFailures += 1;
        if (session->rebuildFailures < maxReturnRebuilds) {
            session->pollsUntilRetry = pollsBetweenReturnRebuilds;
            warn(session->pid,
                 "rebuild after device return failed, retrying: " + describe(error).text);
        } else {
            fail(session,
                 "rebuild after device return failed " + std::to_string(session->rebuildFailures) +
                     " times: ",
                 error);
        }
        return;
    }
    session->rebuildFailures = 0;
    setState(*session, TapSessionState::starting());
}

// messageStart is completed by the error's text.
void TapSessionManager::fail(const std::shared_ptr<Session>& session, std::string messageStart,
                             std::exception_ptr error) {
    const Caught caught = describe(error);
    const std::string message = std::move(messageStart) + caught.text;
    session->failure = caught.hardware;
    teardown(*session);
    sessions_[session->pid] = session;
    setState(*session, TapSessionState::failed(message));
    warn(session->pid, message);
}

void TapSessionManager::waitForDevice(Session& session) {
    teardown(session);
    setState(session, TapSessionState::waitingForDevice());
}

void TapSessionManager::end(const std::shared_ptr<Session>& session, EndReason reason) {
    sessions_.erase(session->pid);
    teardown(*session);
    setState(*session, TapSessionState::ended(reason));
}

void TapSessionManager::start(pid_type pid, const std::optional<std::string>& outputUID) {
    if (auto existing = session(pid); existing && existing->state.isLive()) {
        throw StartError::alreadyRunning();
    }
    AudioObjectID processObjectID = 0;
    try {
        processObjectID = hardware_->processObject(pid);
    } catch (...) {
        throw StartError::processNotFound();
    }
    std::string resolved;
    std::optional<std::string> routed;
    if (outputUID) {
        if (!deviceAlive(*outputUID)) {
            throw StartError::deviceUnavailable();
        }
        resolved = *outputUID;
    } else if (routed = readRoutedOutput(processObjectID); routed) {
        resolved = *routed;
    } else {
        try {
            resolved = hardware_->defaultOutputDeviceUID();
        } catch (const AudioHardwareError& e) {
            throw StartError::hardware(e);
        }
    }

    auto created = std::make_shared<Session>();
    created->pid = pid;
    created->processObjectID = processObjectID;
    created->requestedOutputUID = outputUID;
    created->resolvedOutputUID = resolved;
    created->routedOutputUID = routed;
    created->ioState = std::make_shared<TapIOState>(1.0f, false);
    try {
        build(*created, false);
    } catch (const AudioHardwareError& e) {
        throw StartError::hardware(e);
    }
    sessions_[pid] = created;
    setState(*created, TapSessionState::starting());
}

void TapSessionManager::stop(pid_type pid) {
    if (auto found = session(pid)) {
        end(found, EndReason::stopped);
    }
}

void TapSessionManager::stopAll() {
    std::vector<pid_type> pids;
    for (const auto& [pid, s] : sessions_) {
        pids.push_back(pid);
    }
    for (const pid_type pid : pids) {
        stop(pid);
    }
}

bool TapSessionManager::setVolume(pid_type pid, float volume) {
    auto found = session(pid);
    if (!found) {
        return false;
    }
    const float cleaned = cleanVolume(volume, found->volume);
    found->volume = cleaned;
    found->ioState->memory()->gain.store(cleaned, relaxed);
    return true;
}

void TapSessionManager::setMuted(pid_type pid, bool muted) {
    if (auto found = session(pid)) {
        found->muted = muted;
        found->ioState->memory()->muted.store(muted ? 1 : 0, relaxed);
    }
}

bool TapSessionManager::setOutput(pid_type pid, const std::optional<std::string>& outputUID) {
    auto found = session(pid);
    if (!found || !found->state.isLive()) {
        return false;
    }
    std::string target;
    if (outputUID) {
        target = *outputUID;
        found->routedOutputUID.reset();
    } else {
        target = followedOutput(*found).value_or(found->resolvedOutputUID);
    }
    const auto kind = found->state.kind();
    if (outputUID == found->requestedOutputUID && target == found->resolvedOutputUID &&
        (kind == TapSessionState::Kind::starting || kind == TapSessionState::Kind::active)) {
        return true;
    }
    found->requestedOutputUID = outputUID;
    found->resolvedOutputUID = target;
    found->rebuildFailures = 0;
    found->pollsUntilRetry = 0;
    if (deviceAlive(target)) {
        rebuild(found);
    } else {
        waitForDevice(*found);
    }
    return true;
}

std::optional<TapSessionState> TapSessionManager::state(pid_type pid) const {
    auto found = session(pid);
    return found ? std::optional(found->state) : std::nullopt;
}

std::optional<float> TapSessionManager::volume(pid_type pid) const {
    auto found = session(pid);
    return found ? std::optional(found->volume) : std::nullopt;
}

std::optional<bool> TapSessionManager::muted(pid_type pid) const {
    auto found = session(pid);
    return found ? std::optional(found->muted) : std::nullopt;
}

std::vector<SessionSnapshot> TapSessionManager::snapshots() const {
    std::vector<SessionSnapshot> result;
    result.reserve(sessions_.size());
    for (const auto& [pid, s] : sessions_) {
        const TapIOState::Memory* memory = s->ioState->memory();
        result.push_back(
            SessionSnapshot{pid, s->state, s->resolvedOutputUID, memory->buffers.load(relaxed),
                            memory->nonzeroBuffers.load(relaxed), memory->peak.load(relaxed)});
    }
    return result;
}

void TapSessionManager::startPolling(Seconds interval, std::shared_ptr<SerialQueue> queue) {
    if (!(interval > 0.0) || !std::isfinite(interval)) {
        throw std::invalid_argument("poll interval must be a positive number of seconds");
    }
    if (!queue) {
        throw std::invalid_argument("polling needs a queue");
    }
    std::weak_ptr<TapSessionManager> self = weak_from_this();
    if (self.expired()) {
        throw std::logic_error("TapSessionManager must be owned by a std::shared_ptr to poll");
    }
    stopPolling();
    timer_ = queue->scheduleTimer(queue->now() + interval, interval, [self] {
        if (auto manager = self.lock()) {
            manager->poll();
        }
    });
    const std::uint64_t generation = ++pollingGeneration_;
    std::weak_ptr<SerialQueue> weakQueue = queue;
    // Runs on the hardware's listener queue: only hop.
    hardware_->setOnDeviceChange([self, weakQueue, generation] {
        if (auto target = weakQueue.lock()) {
            target->async([self, generation] {
                auto manager = self.lock();
                if (!manager || manager->pollingGeneration_ != generation) {
                    return;
                }
                manager->send(TapSessionEvent::devicesChanged());
                manager->poll();
            });
        }
    });
}

void TapSessionManager::stopPolling() {
    if (timer_) {
        timer_->cancel();
        timer_.reset();
    }
    ++pollingGeneration_;
    hardware_->setOnDeviceChange(nullptr);
}

void TapSessionManager::poll() {
    std::vector<std::shared_ptr<Session>> order;
    order.reserve(sessions_.size());
    for (const auto& [pid, s] : sessions_) {
        order.push_back(s);
    }
    for (const auto& s : order) {
        // An event handler may have stopped or replaced it meanwhile.
        if (session(s->pid) != s) {
            continue;
        }
        bool exited = false;
        try {
            exited = hardware_->processObject(s->pid) != s->processObjectID;
        } catch (...) {
            exited = true;
        }
        if (exited) {
            end(s, EndReason::processExited);
            continue;
        }

        switch (s->state.kind()) {
        case TapSessionState::Kind::failed:
        case TapSessionState::Kind::ended:
            break;
        case TapSessionState::Kind::starting:
        case TapSessionState::Kind::active: {
            if (!deviceAlive(s->resolvedOutputUID)) {
                waitForDevice(*s);
                break;
            }
            const bool starting = s->state.kind() == TapSessionState::Kind::starting;
            if (!s->requestedOutputUID) {
                const auto followed = followedOutput(*s);
                if (followed && *followed != s->resolvedOutputUID && deviceAlive(*followed)) {
                    s->resolvedOutputUID = *followed;
                    rebuild(s);
                    break;
                }
            }
            if (starting && s->ioState->memory()->nonzeroBuffers.load(relaxed) >= 1) {
                confirm(s);
            }
            break;
        }
        case TapSessionState::Kind::waitingForDevice: {
            std::string target;
            if (s->requestedOutputUID) {
                target = *s->requestedOutputUID;
            } else {
                target = followedOutput(*s).value_or(s->resolvedOutputUID);
            }
            if (!deviceAlive(target)) {
                break; // the countdown runs only while the device is there
            }
            if (s->pollsUntilRetry < 1) {
                s->resolvedOutputUID = target;
                rebuildAfterReturn(s);
            } else {
                s->pollsUntilRetry -= 1;
            }
            break;
        }
        }
    }
}

TapSessionManager::Removed TapSessionManager::sweep() {
    std::set<AudioObjectID> live;
    for (const auto& [pid, s] : sessions_) {
        if (s->tap) {
            live.insert(s->tap->objectID);
        }
        if (s->aggregate) {
            live.insert(*s->aggregate);
        }
    }
    Removed removed;

    std::vector<TapListEntry> taps;
    try {
        taps = hardware_->listTaps();
    } catch (...) {
        // Unreadable: nothing to sweep.
    }
    for (const auto& tap : taps) {
        if (!tap.name.starts_with(namePrefix_) || live.count(tap.objectID) != 0) {
            continue;
        }
        try {
            hardware_->destroyTap(tap.objectID);
            ++removed.taps;
        } catch (...) {
            warn(std::nullopt, "sweep: destroying tap " + std::to_string(tap.objectID) +
                                   " failed: " + describe(std::current_exception()).text);
        }
    }

    std::vector<AudioDeviceInfo> devices;
    try {
        devices = hardware_->outputDevices();
    } catch (...) {
        // Unreadable: nothing to sweep.
    }
    for (const auto& device : devices) {
        if (!device.uid.starts_with(uidPrefix_) || !device.name.starts_with(namePrefix_) ||
            live.count(device.objectID) != 0) {
            continue;
        }
        try {
            hardware_->destroyAggregate(device.objectID);
            ++removed.devices;
        } catch (...) {
            warn(std::nullopt, "sweep: destroying device " + std::to_string(device.objectID) +
                                   " failed: " + describe(std::current_exception()).text);
        }
    }

    if (removed.taps > 0 || removed.devices > 0) {
        warn(std::nullopt, "sweep removed " + std::to_string(removed.taps) + " taps and " +
                               std::to_string(removed.devices) + " devices");
    }
    return removed;
}

TapSessionManager::Removed TapSessionManager::reset() {
    struct Restart {
        pid_type pid;
        std::optional<std::string> requestedOutputUID;
        float volume;
        bool muted;
    };
    std::vector<Restart> restarts;
    for (const auto& [pid, s] : sessions_) {
        if (s->state.isLive()) {
            restarts.push_back({pid, s->requestedOutputUID, s->volume, s->muted});
        }
    }
    stopAll();
    const Removed removed = sweep();
    for (const auto& restart : restarts) {
        try {
            start(restart.pid, restart.requestedOutputUID);
        } catch (...) {
            warn(restart.pid,
                 "reset: restarting failed: " + describe(std::current_exception()).text);
            continue;
        }
        // Resetting the audio path must not change what the user set: a muted app that came
        // back at full volume would be a nasty surprise, and the row and the remembered
        // settings would disagree.
        setVolume(restart.pid, restart.volume);
        setMuted(restart.pid, restart.muted);
    }
    return removed;
}

} // namespace brindell
