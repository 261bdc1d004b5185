#include "mixer/LiveMixerEngine.h"

#include "audio/Volume.h"
#include "queue/ThreadQueue.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

namespace brindell {

namespace {

constexpr Seconds distantPast = -std::numeric_limits<Seconds>::infinity();

template <typename T> void require(const std::shared_ptr<T>& part, const char* name) {
    if (!part) {
        throw std::invalid_argument(std::string("LiveMixerEngine: missing ") + name);
    }
}

} // namespace

const std::set<std::int32_t>& LiveMixerEngine::refusalStatuses() {
    static const std::set<std::int32_t> statuses = {-EPERM, -EACCES};
    return statuses;
}

std::shared_ptr<LiveMixerEngine> LiveMixerEngine::create(Parts parts) {
    require(parts.hardware, "hardware");
    require(parts.processSource, "processSource");
    require(parts.appInfo, "appInfo");
    require(parts.systemControl, "systemControl");
    require(parts.settingsStore, "settingsStore");
    require(parts.grouper, "grouper");
    require(parts.workspace, "workspace");

    Collaborators c;
    c.queue = parts.queue ? std::move(parts.queue) : std::make_shared<ThreadQueue>(queueLabel);
    c.now = parts.now;
    if (!c.now) {
        c.now = [queue = c.queue] { return queue->now(); };
    }
    c.manager = std::make_shared<TapSessionManager>(namePrefix, uidPrefix, parts.hardware);
    c.settings = std::make_shared<PerAppSettings>(c.manager, std::move(parts.settingsStore));
    c.monitor = AudioSourceMonitor::create(std::move(parts.processSource), std::move(parts.appInfo),
                                           parts.ownPID, std::move(parts.grouper));
    c.visibility = std::make_shared<SourceVisibilityModel>(c.now, visibilityCoolDown);
    c.master = OutputDeviceController::create(std::move(parts.systemControl), parts.hardware);
    c.workspace = std::move(parts.workspace);
    return create(std::move(c));
}

std::shared_ptr<LiveMixerEngine> LiveMixerEngine::create(Collaborators collaborators) {
    require(collaborators.queue, "queue");
    require(collaborators.manager, "manager");
    require(collaborators.settings, "settings");
    require(collaborators.monitor, "monitor");
    require(collaborators.visibility, "visibility");
    require(collaborators.master, "master");
    require(collaborators.workspace, "workspace");
    if (!collaborators.now) {
        collaborators.now = [queue = collaborators.queue] { return queue->now(); };
    }
    auto engine = std::make_shared<LiveMixerEngine>(Token{}, std::move(collaborators));
    engine->wire();
    return engine;
}

LiveMixerEngine::LiveMixerEngine(Token, Collaborators c)
    : queue_(std::move(c.queue)), manager_(std::move(c.manager)), settings_(std::move(c.settings)),
      monitor_(std::move(c.monitor)), visibility_(std::move(c.visibility)),
      master_(std::move(c.master)), workspace_(std::move(c.workspace)), now_(std::move(c.now)),
      permissionGraceUntil_(distantPast), lastVolumeSave_(distantPast) {}

LiveMixerEngine::~LiveMixerEngine() {
    // Without stop(): the timers would only find the engine gone, but need not keep waking the
    // queue. Both handles are thread-safe.
    if (tickTimer_) {
        tickTimer_->cancel();
    }
    if (pendingSave_) {
        pendingSave_->cancel();
    }
    if (levelsTimer_) {
        levelsTimer_->cancel();
    }
}

void LiveMixerEngine::wire() {
    const std::weak_ptr<LiveMixerEngine> weak = weak_from_this();
    const std::weak_ptr<SerialQueue> weakQueue = queue_;

    // The monitor and the visibility model run on the queue and call back there, directly.
    monitor_->setOnChange([weak](const std::vector<AudioSource>& sources) {
        if (const auto self = weak.lock()) {
            self->visibility_->update(sources);
            self->reconcile();
        }
    });
    visibility_->setOnChange([weak](const std::vector<VisibleSource>&) {
        if (const auto self = weak.lock()) {
            self->reconcile();
        }
    });
    // The manager reports from inside its own operations, some of which reconcile runs; the
    // hop lets each of them finish first.
    manager_->setOnEvent([weak, weakQueue](const TapSessionEvent& event) {
        const auto queue = weakQueue.lock();
        if (!queue) {
            return;
        }
        const bool devicesChanged = event.kind == TapSessionEvent::Kind::devicesChanged;
        queue->async([weak, devicesChanged] {
            if (const auto self = weak.lock()) {
                if (devicesChanged) {
                    self->cachedOutputs_.reset();
                }
                self->reconcile();
            }
        });
    });
    master_->setOnChange([weak, weakQueue](const std::optional<OutputState>&) {
        const auto queue = weakQueue.lock();
        if (!queue) {
            return;
        }
        queue->async([weak] {
            if (const auto self = weak.lock()) {
                self->cachedOutputs_.reset();
                self->notifyChange();
            }
        });
    });
}

void LiveMixerEngine::submit(std::function<void(LiveMixerEngine&)> work) {
    const std::weak_ptr<LiveMixerEngine> weak = weak_from_this();
    const std::uint64_t ticket = ++submitted_;
    queue_->async([weak, ticket, work = std::move(work)] {
        if (const auto self = weak.lock()) {
            // Two threads may submit in the other order than they took their tickets.
            self->applied_ = std::max(self->applied_, ticket);
            work(*self);
            // Until now the published state was held back as out of date; publish it, unless
            // the work did, or later operations will.
            if (self->applied_ == self->submitted_.load()) {
                bool published = false;
                {
                    const std::lock_guard lock(self->publishedMutex_);
                    published = self->publishedTicket_ == self->applied_;
                }
                if (!published) {
                    self->notifyChange();
                }
            }
        }
    });
}

void LiveMixerEngine::runAndWait(const std::function<void()>& work) {
    // On the queue itself a wait would never end; the caller already has the queue to itself.
    if (queue_->isCurrent() || !queue_->sync(work)) {
        work();
    }
}

void LiveMixerEngine::setOnChange(ChangeCallback callback) {
    const std::lock_guard lock(onChangeMutex_);
    onChange_ = std::move(callback);
}

void LiveMixerEngine::notifyChange() {
    MixerSnapshot fresh = buildSnapshot();
    {
        const std::lock_guard lock(publishedMutex_);
        published_ = std::move(fresh);
        publishedTicket_ = applied_;
    }
    ChangeCallback callback;
    {
        const std::lock_guard lock(onChangeMutex_);
        callback = onChange_;
    }
    if (callback) {
        callback();
    }
}

// --- lifecycle ------------------------------------------------------------------------------

void LiveMixerEngine::start() {
    submit([](LiveMixerEngine& self) { self.startOnQueue(); });
    const std::weak_ptr<LiveMixerEngine> weak = weak_from_this();
    auto observation = workspace_->observeWake([weak] {
        // On the workspace's thread: only the hop.
        if (const auto self = weak.lock()) {
            self->submit([](LiveMixerEngine& engine) { engine.wake(); });
        }
    });
    const std::lock_guard lock(wakeMutex_);
    wakeObserver_ = std::move(observation);
}

void LiveMixerEngine::startOnQueue() {
    stopped_ = false;
    manager_->sweep();
    manager_->startPolling(sessionPollInterval, queue_);
    monitor_->start(queue_, monitorPollInterval);
    master_->start(queue_, masterCoalescing);
    if (tickTimer_) {
        tickTimer_->cancel(); // a second start must not double the tick
    }
    const std::weak_ptr<LiveMixerEngine> weak = weak_from_this();
    tickTimer_ = queue_->scheduleTimer(queue_->now() + tickInterval, tickInterval, [weak] {
        if (const auto self = weak.lock()) {
            self->tick();
        }
    });
    notifyChange(); // what is known at start, the audio server's reach included
}

void LiveMixerEngine::stop() {
    std::unique_ptr<WakeObservation> observation;
    {
        const std::lock_guard lock(wakeMutex_);
        observation = std::move(wakeObserver_);
    }
    observation.reset(); // unregisters
    runAndWait([this] { stopOnQueue(); });
}

void LiveMixerEngine::stopOnQueue() {
    stopped_ = true;
    if (tickTimer_) {
        tickTimer_->cancel();
        tickTimer_.reset();
    }
    if (pendingSave_) {
        pendingSave_->cancel();
        pendingSave_.reset();
    }
    applyLevelsWanted(false);
    if (settings_->store().dirty()) {
        settings_->store().flush();
    }
    monitor_->stop();
    master_->stop();
    manager_->stopPolling();
    manager_->stopAll();
}

void LiveMixerEngine::resetAudio() {
    submit([](LiveMixerEngine& self) {
        self.manager_->reset();
        self.notifyChange();
    });
}

// --- reconcile ------------------------------------------------------------------------------

void LiveMixerEngine::reconcile() {
    if (stopped_) {
        return;
    }
    const std::vector<VisibleSource> visible = visibility_->visibleSources();
    std::set<pid_type> listed;
    for (const VisibleSource& entry : visible) {
        listed.insert(entry.source.memberPIDs.begin(), entry.source.memberPIDs.end());
    }

    if (permission_.state() != PermissionState::likelyDenied) {
        std::vector<std::pair<pid_type, const AudioSource*>> starts;
        for (const VisibleSource& entry : visible) {
            if (!entry.isActive) {
                continue;
            }
            for (const pid_type pid : entry.source.memberPIDs) {
                if (!manager_->session(pid) && !startErrors_.contains(pid)) {
                    starts.emplace_back(pid, &entry.source);
                }
            }
        }
        if (!starts.empty()) {
            // A start waits for the audio server, seconds when its session manager does not
            // answer: the rows are shown starting meanwhile.
            notifyChange();
        }
        for (const auto& [pid, source] : starts) {
            startSession(pid, *source);
        }
    }

    for (const SessionSnapshot& snapshot : manager_->snapshots()) {
        if (!listed.contains(snapshot.pid)) {
            manager_->stop(snapshot.pid);
            settings_->detach(snapshot.pid);
        }
    }
    // A session that ended by itself (its process exited) leaves no snapshot behind; forget its
    // application too once it is no longer listed, so the record cannot outlive the process.
    std::vector<pid_type> unlisted;
    for (const auto& [pid, bundleID] : settings_->bundleIDs()) {
        if (!listed.contains(pid)) {
            unlisted.push_back(pid);
        }
    }
    for (const pid_type pid : unlisted) {
        settings_->detach(pid);
    }

    std::erase_if(startErrors_, [&](const auto& entry) { return !listed.contains(entry.first); });
    notifyChange();
}

void LiveMixerEngine::startSession(pid_type pid, const AudioSource& source) {
    try {
        settings_->attach(pid, source.bundleID);
    } catch (const TapSessionManager::StartError& e) {
        // Never an error for the user: the row says why, and the app plays untouched.
        startErrors_.insert_or_assign(pid, startFailureStatus(std::current_exception()));
        if (e.hardwareError()) {
            refusals_.push_back(*e.hardwareError()); // judged by the next tick
            if (isTransient(*e.hardwareError())) {
                retryStart(pid);
            }
        }
    } catch (...) {
        startErrors_.insert_or_assign(pid, startFailureStatus(std::current_exception()));
    }
}

bool LiveMixerEngine::isTransient(const AudioHardwareError& error) {
    // The server's session manager did not answer in time, or is setting the graph up again.
    return error.kind() == AudioHardwareError::Kind::status &&
           (error.code() == -ETIMEDOUT || error.code() == -EAGAIN);
}

void LiveMixerEngine::retryStart(pid_type pid) {
    if (!retrying_.insert(pid).second) {
        return;
    }
    const std::weak_ptr<LiveMixerEngine> weak = weak_from_this();
    queue_->asyncAfter(startRetryDelay, [weak, pid] {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        self->retrying_.erase(pid);
        if (!self->stopped_ && self->startErrors_.erase(pid) != 0) {
            self->reconcile();
        }
    });
}

MixerRowStatus LiveMixerEngine::startFailureStatus(std::exception_ptr error) const {
    using Kind = TapSessionManager::StartError::Kind;
    try {
        std::rethrow_exception(std::move(error));
    } catch (const TapSessionManager::StartError& e) {
        switch (e.kind()) {
        case Kind::processNotFound:
            return classifier_.classify(AudioHardwareError::noSuchObject(), e.text());
        case Kind::hardware:
            return classifier_.classify(e.hardwareError(), e.text());
        case Kind::alreadyRunning:
            return MixerRowStatus::captureFailed("A session for this app is already running.");
        case Kind::deviceUnavailable:
            return MixerRowStatus::captureFailed("The output device is not available.");
        }
        return MixerRowStatus::captureFailed(e.text());
    } catch (const std::exception& e) {
        return MixerRowStatus::captureFailed(e.what());
    } catch (...) {
        return MixerRowStatus::captureFailed("Unknown error.");
    }
}

// --- tick and permission ----------------------------------------------------------------------

void LiveMixerEngine::tick() {
    visibility_->prune();

    const PermissionMonitor before = permission_;
    std::set<pid_type> active;
    for (const VisibleSource& entry : visibility_->visibleSources()) {
        if (entry.isActive) {
            active.insert(entry.source.memberPIDs.begin(), entry.source.memberPIDs.end());
        }
    }
    const Seconds now = now_();
    permission_.observe(manager_->snapshots(), active, manager_->confirmations(), now);
    // A refused operation is the verdict: a session that failed on one, or a refused start.
    // Right after a wake the audio system may not be ready yet: refused starts are dropped
    // (the wake retries them), failed sessions count once the grace is over.
    if (now >= permissionGraceUntil_) {
        for (const SessionSnapshot& snapshot : manager_->snapshots()) {
            const auto session = manager_->session(snapshot.pid);
            if (session && session->state.kind() == TapSessionState::Kind::failed &&
                session->failure) {
                permission_.noteFailure(*session->failure);
            }
        }
        for (const AudioHardwareError& refusal : refusals_) {
            permission_.noteFailure(refusal);
        }
    }
    refusals_.clear();
    if (now < permissionGraceUntil_ && permission_.state() == PermissionState::likelyDenied) {
        permission_ = before; // just woken: the audio system may not deliver yet
    }
    if (permission_.state() != before.state()) {
        if (permission_.state() == PermissionState::likelyDenied) {
            // Every app plays untouched again; the rows say why.
            manager_->stopAll();
        }
        notifyChange();
    }
}

void LiveMixerEngine::recheckPermission() {
    submit([](LiveMixerEngine& self) {
        self.permission_.forgetVerdict();
        self.refusals_.clear();
        self.manager_->stopAll();
        self.startErrors_.clear();
        self.reconcile();
    });
}

void LiveMixerEngine::wake() {
    if (stopped_) {
        return;
    }
    permissionGraceUntil_ = now_() + wakeGracePeriod;
    permission_.forgetVerdict();
    refusals_.clear();
    manager_->stopAll();
    startErrors_.clear();
    cachedOutputs_.reset();
    reconcile();

    const std::weak_ptr<LiveMixerEngine> weak = weak_from_this();
    queue_->asyncAfter(wakeRetryDelay, [weak] {
        if (const auto self = weak.lock()) {
            self->retryAfterWake();
        }
    });
}

void LiveMixerEngine::retryAfterWake() {
    if (stopped_ || startErrors_.empty()) {
        return;
    }
    startErrors_.clear();
    reconcile();
}

// --- user actions ---------------------------------------------------------------------------

void LiveMixerEngine::setVolume(pid_type pid, float volume) {
    submit([pid, volume](LiveMixerEngine& self) { self.applyVolume(pid, volume); });
}

void LiveMixerEngine::applyVolume(pid_type pid, float volume) {
    // The queue's clock: the trailing save below is timed on it.
    const Seconds elapsed = queue_->now() - lastVolumeSave_;
    const bool persist = elapsed >= volumeSaveInterval;
    for (const pid_type member : members(pid)) {
        const auto session = manager_->session(member);
        if (!session) {
            continue;
        }
        const float value = cleanVolume(volume, session->volume);
        manager_->setVolume(member, value);
        if (const auto bundleID = settings_->bundleID(member)) {
            settings_->store().setVolume(value, *bundleID, persist);
        }
    }

    if (pendingSave_) {
        pendingSave_->cancel();
        pendingSave_.reset();
    }
    if (persist) {
        lastVolumeSave_ = queue_->now();
    } else {
        // The last value of a drag is always written, once the drag has rested.
        const std::weak_ptr<LiveMixerEngine> weak = weak_from_this();
        pendingSave_ = queue_->asyncAfter(volumeSaveInterval, [weak] {
            if (const auto self = weak.lock()) {
                self->flushPendingSave();
            }
        });
    }
    notifyChange();
}

void LiveMixerEngine::flushPendingSave() {
    if (settings_->store().dirty()) {
        settings_->store().flush();
    }
    lastVolumeSave_ = queue_->now();
    pendingSave_.reset();
}

void LiveMixerEngine::setMuted(pid_type pid, bool muted) {
    submit([pid, muted](LiveMixerEngine& self) {
        for (const pid_type member : self.members(pid)) {
            if (!self.manager_->session(member)) {
                continue;
            }
            self.manager_->setMuted(member, muted);
            if (const auto bundleID = self.settings_->bundleID(member)) {
                self.settings_->store().setMuted(muted, *bundleID, true);
            }
        }
        self.notifyChange();
    });
}

void LiveMixerEngine::setOutput(pid_type pid, std::optional<std::string> uid) {
    submit([pid, uid = sanitizedOutputUID(std::move(uid))](LiveMixerEngine& self) {
        for (const pid_type member : self.members(pid)) {
            if (!self.manager_->setOutput(member, uid)) {
                continue;
            }
            if (const auto bundleID = self.settings_->bundleID(member)) {
                self.settings_->store().setOutput(uid, *bundleID, true);
            }
        }
        self.notifyChange();
    });
}

void LiveMixerEngine::setMasterVolume(float volume) {
    submit([volume](LiveMixerEngine& self) {
        try {
            self.master_->setVolume(volume);
        } catch (const std::exception&) {
            // No default output or no volume control: the master section shows what it is.
        }
    });
}

void LiveMixerEngine::setMasterMuted(bool muted) {
    // The controller does nothing without a mute control and drops a refused write.
    submit([muted](LiveMixerEngine& self) { self.master_->setMuted(muted); });
}

void LiveMixerEngine::setDefaultOutput(std::string uid) {
    submit([uid = std::move(uid)](LiveMixerEngine& self) {
        try {
            self.master_->setDefaultOutput(uid);
        } catch (const std::exception&) {
            // The device went away meanwhile, or the system refused: the list shows the truth.
        }
    });
}

void LiveMixerEngine::beginInteraction(pid_type pid) {
    submit([pid](LiveMixerEngine& self) { self.visibility_->setInteracting(pid); });
}

void LiveMixerEngine::endInteraction() {
    submit([](LiveMixerEngine& self) {
        self.visibility_->setInteracting(std::nullopt);
        self.visibility_->prune();
    });
}

void LiveMixerEngine::forgetSettings(std::string bundleID) {
    submit([bundleID = std::move(bundleID)](LiveMixerEngine& self) {
        self.settings_->reset(bundleID);
        self.notifyChange();
    });
}

void LiveMixerEngine::forgetAllSettings() {
    submit([](LiveMixerEngine& self) {
        self.settings_->resetAll();
        self.notifyChange();
    });
}

// --- levels ---------------------------------------------------------------------------------

void LiveMixerEngine::setOnLevels(LevelsCallback callback) {
    const std::lock_guard lock(onLevelsMutex_);
    onLevels_ = std::move(callback);
}

void LiveMixerEngine::setLevelsWanted(bool wanted) {
    submit([wanted](LiveMixerEngine& self) { self.applyLevelsWanted(wanted); });
}

void LiveMixerEngine::applyLevelsWanted(bool wanted) {
    if (!wanted || stopped_) {
        if (levelsTimer_) {
            levelsTimer_->cancel();
            levelsTimer_.reset();
        }
        levelReads_.clear();
        return;
    }
    if (levelsTimer_) {
        return;
    }
    const Seconds interval = 1.0 / levelsPerSecond;
    const std::weak_ptr<LiveMixerEngine> weak = weak_from_this();
    levelsTimer_ = queue_->scheduleTimer(queue_->now() + interval, interval, [weak] {
        if (const auto self = weak.lock()) {
            self->publishLevels();
        }
    });
    publishLevels();
}

void LiveMixerEngine::publishLevels() {
    const MixerLevels levels = readLevels();
    LevelsCallback callback;
    {
        const std::lock_guard lock(onLevelsMutex_);
        callback = onLevels_;
    }
    if (callback) {
        callback(levels);
    }
}

void LiveMixerEngine::readLevels(LevelsCallback done) {
    const std::weak_ptr<LiveMixerEngine> weak = weak_from_this();
    queue_->async([weak, done = std::move(done)] {
        const auto self = weak.lock();
        done(self ? self->readLevels() : MixerLevels{}); // an answer also from a gone engine
    });
}

MixerLevels LiveMixerEngine::levels() {
    MixerLevels result;
    runAndWait([&] { result = readLevels(); });
    return result;
}

MixerLevels LiveMixerEngine::readLevels() {
    constexpr auto relaxed = std::memory_order_relaxed;
    const Seconds now = queue_->now();
    MixerLevels result;
    std::map<pid_type, LevelRead> reads;
    for (const VisibleSource& visible : visibility_->visibleSources()) {
        std::optional<float> rowLevel;
        for (const pid_type pid : visible.source.memberPIDs) {
            const auto session = manager_->session(pid);
            // Only an active session plays the app through its gain stage (status ok).
            if (!session || session->state.kind() != TapSessionState::Kind::active) {
                continue;
            }
            const TapIOState::Memory* memory = session->ioState->memory();
            LevelRead read{memory, memory->buffers.load(relaxed), now};
            const auto last = levelReads_.find(pid);
            if (last != levelReads_.end() && last->second.memory == memory &&
                last->second.buffers == read.buffers) {
                read.advanced = last->second.advanced;
            }
            reads[pid] = read;
            float level = 0.0f;
            if (!session->muted && now - read.advanced <= levelStaleAfter) {
                // The callback measures the tap before its gain; what the user hears is that
                // peak scaled by the gain the ramp has reached (0 once a mute has ramped out).
                level = memory->peak.load(relaxed) * memory->applied.load(relaxed);
                level = level > 0.0f ? std::min(level, 1.0f) : 0.0f; // also NaN
            }
            rowLevel = std::max(rowLevel.value_or(0.0f), level);
        }
        if (rowLevel) {
            result[visible.source.pid] = *rowLevel;
        }
    }
    levelReads_ = std::move(reads);
    return result;
}

// --- snapshot -------------------------------------------------------------------------------

MixerSnapshot LiveMixerEngine::snapshot() {
    MixerSnapshot result;
    runAndWait([&] { result = buildSnapshot(); });
    return result;
}

std::optional<MixerSnapshot> LiveMixerEngine::publishedSnapshot() {
    const std::uint64_t submitted = submitted_.load();
    const std::lock_guard lock(publishedMutex_);
    if (publishedTicket_ != submitted) {
        return std::nullopt; // it would undo what the caller just did
    }
    return published_;
}

MixerSnapshot LiveMixerEngine::buildSnapshot() {
    MixerSnapshot snapshot;
    snapshot.serverReachable = manager_->isServerReachable();
    for (const VisibleSource& visible : visibility_->visibleSources()) {
        snapshot.rows.push_back(buildRow(visible));
    }
    if (!cachedOutputs_) {
        // Listing devices asks the audio system about every one: kept until something changes.
        std::vector<OutputChoice> outputs;
        for (const AudioDeviceInfo& device : master_->outputs()) {
            outputs.push_back(OutputChoice{device.uid, device.name, device.transport});
        }
        cachedOutputs_ = std::move(outputs);
    }
    snapshot.outputs = *cachedOutputs_;
    snapshot.master = master_->state();
    if (snapshot.master) {
        snapshot.defaultOutputName = snapshot.master->deviceName;
    }
    snapshot.permission = permission_.state();
    return snapshot;
}

MixerRow LiveMixerEngine::buildRow(const VisibleSource& visible) const {
    const AudioSource& source = visible.source;
    MixerRow row;
    row.pid = source.pid;
    row.bundleID = source.bundleID;
    row.name = source.name;
    if (source.icon) {
        row.icon = source.icon->value;
    }
    row.isActive = visible.isActive;
    row.memberPIDs = source.memberPIDs;

    AppSetting remembered;
    if (source.bundleID) {
        remembered = settings_->store().setting(*source.bundleID);
    }
    row.volume = remembered.volume;
    row.isMuted = remembered.isMuted;
    row.outputUID = remembered.outputDeviceUID;

    for (const pid_type pid : source.memberPIDs) {
        const auto session = manager_->session(pid);
        if (!session) {
            continue;
        }
        // An app that another program routed shows where it plays.
        row.outputUID =
            session->requestedOutputUID ? session->requestedOutputUID : session->routedOutputUID;
        if (const auto volume = manager_->volume(pid)) {
            row.volume = *volume;
        }
        if (const auto muted = manager_->muted(pid)) {
            row.isMuted = *muted;
        }
        break;
    }
    row.status = rowStatus(source.memberPIDs);
    return row;
}

MixerRowStatus LiveMixerEngine::memberStatus(pid_type pid) const {
    using Kind = TapSessionState::Kind;
    const auto session = manager_->session(pid);
    if (session) {
        switch (session->state.kind()) {
        case Kind::active:
            return MixerRowStatus::ok();
        case Kind::starting:
            return MixerRowStatus::starting();
        case Kind::waitingForDevice:
            return MixerRowStatus::waitingForDevice();
        case Kind::failed:
            return classifier_.classify(session->failure, session->state.message());
        case Kind::ended:
            break; // never in the table; treated as no session
        }
    }
    if (permission_.state() == PermissionState::likelyDenied) {
        return MixerRowStatus::needsPermission();
    }
    if (const auto found = startErrors_.find(pid); found != startErrors_.end()) {
        return found->second;
    }
    return MixerRowStatus::starting();
}

MixerRowStatus LiveMixerEngine::rowStatus(const std::vector<pid_type>& members) const {
    if (members.empty()) {
        return MixerRowStatus::starting();
    }
    std::vector<MixerRowStatus> statuses;
    statuses.reserve(members.size());
    for (const pid_type pid : members) {
        statuses.push_back(memberStatus(pid));
    }
    for (const auto kind : {MixerRowStatus::Kind::ok, MixerRowStatus::Kind::waitingForDevice,
                            MixerRowStatus::Kind::starting}) {
        for (const MixerRowStatus& status : statuses) {
            if (status.kind() == kind) {
                return status;
            }
        }
    }
    return statuses.front();
}

std::vector<pid_type> LiveMixerEngine::members(pid_type rowPID) const {
    for (const VisibleSource& visible : visibility_->visibleSources()) {
        if (visible.source.pid == rowPID) {
            return visible.source.memberPIDs;
        }
    }
    return {rowPID};
}

} // namespace brindell
