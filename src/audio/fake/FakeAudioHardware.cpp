#include "audio/fake/FakeAudioHardware.h"

#include <algorithm>
#include <cmath>

namespace brindell {

namespace {
// Codes the fake's own refusals use, in PipeWire's negative-errno form.
constexpr std::int32_t noEntry = -2;   // -ENOENT
constexpr std::int32_t noDevice = -19; // -ENODEV
} // namespace

const char* FakeAudioHardware::operationName(Op op) {
    switch (op) {
    case Op::createTap:
        return "CreateProcessTap";
    case Op::readTapUID:
    case Op::readDefaultUID:
        return "string property";
    case Op::destroyTap:
        return "DestroyProcessTap";
    case Op::createAggregate:
        return "CreateAggregateDevice";
    case Op::destroyAggregate:
        return "DestroyAggregateDevice";
    case Op::createIOProc:
        return "CreateIOProcIDWithBlock";
    case Op::startDevice:
        return "AudioDeviceStart";
    case Op::stopDevice:
        return "AudioDeviceStop";
    case Op::destroyIOProc:
        return "AudioDeviceDestroyIOProcID";
    case Op::processObject:
        return "TranslatePIDToProcessObject";
    case Op::defaultOutputDevice:
        return "DefaultOutputDevice";
    case Op::deviceListSize:
    case Op::tapListSize:
        return "list size";
    case Op::deviceList:
    case Op::tapList:
        return "list";
    }
    return "";
}

FakeAudioHardware::FakeAudioHardware(std::shared_ptr<SerialQueue> listenerQueue)
    : listenerQueue_(std::move(listenerQueue)) {}

FakeAudioHardware::~FakeAudioHardware() = default;

void FakeAudioHardware::step(Op op) {
    calls_.push_back(op);
    auto it = failures_.find(op);
    if (it == failures_.end()) {
        return;
    }
    const std::int32_t code = it->second.code;
    if (it->second.remaining > 0 && --it->second.remaining == 0) {
        failures_.erase(it);
    }
    throw AudioHardwareError::status(operationName(op), code);
}

void FakeAudioHardware::reportDeviceChange(std::unique_lock<std::mutex>& lock) {
    DeviceChangeCallback callback = onDeviceChange_;
    if (!callback) {
        return;
    }
    if (listenerQueue_) {
        listenerQueue_->async(std::move(callback));
    } else {
        lock.unlock();
        callback();
        lock.lock();
    }
}

const FakeAudioHardware::Device* FakeAudioHardware::findDevice(const std::string& uid) const {
    for (const auto& [id, device] : devices_) {
        if (device.uid == uid) {
            return &device;
        }
    }
    return nullptr;
}

AudioObjectID FakeAudioHardware::addDevice(Device device) {
    std::unique_lock lock(mutex_);
    const AudioObjectID id = nextObjectID_++;
    devices_.emplace_back(id, std::move(device));
    reportDeviceChange(lock);
    return id;
}

void FakeAudioHardware::removeDevice(const std::string& uid) {
    std::unique_lock lock(mutex_);
    std::erase_if(devices_, [&](const auto& entry) { return entry.second.uid == uid; });
    reportDeviceChange(lock);
}

void FakeAudioHardware::setDeviceAlive(const std::string& uid, bool alive) {
    std::lock_guard lock(mutex_);
    for (auto& [id, device] : devices_) {
        if (device.uid == uid) {
            device.alive = alive;
        }
    }
}

void FakeAudioHardware::setDefaultOutput(std::optional<std::string> uid) {
    std::unique_lock lock(mutex_);
    defaultOutput_ = std::move(uid);
    reportDeviceChange(lock);
}

void FakeAudioHardware::setServerReachable(bool reachable) {
    std::unique_lock lock(mutex_);
    serverReachable_ = reachable;
    reportDeviceChange(lock);
}

void FakeAudioHardware::setRoutedOutput(pid_type pid, std::optional<std::string> uid) {
    std::unique_lock lock(mutex_);
    if (uid) {
        routedOutputs_[pid] = std::move(*uid);
    } else {
        routedOutputs_.erase(pid);
    }
    reportDeviceChange(lock);
}

bool FakeAudioHardware::isServerReachable() const {
    std::lock_guard lock(mutex_);
    return serverReachable_;
}

AudioObjectID FakeAudioHardware::addProcess(pid_type pid) {
    std::lock_guard lock(mutex_);
    const AudioObjectID id = nextObjectID_++;
    processes_[pid] = id;
    return id;
}

void FakeAudioHardware::removeProcess(pid_type pid) {
    std::lock_guard lock(mutex_);
    processes_.erase(pid);
    signals_.erase(pid);
    routedOutputs_.erase(pid);
}

void FakeAudioHardware::setProcessSignal(pid_type pid, float amplitude) {
    std::lock_guard lock(mutex_);
    signals_[pid] = amplitude;
}

AudioObjectID FakeAudioHardware::injectTap(const std::string& name) {
    std::lock_guard lock(mutex_);
    const AudioObjectID id = nextObjectID_++;
    taps_[id] = Tap{id, 0, name, "leftover-tap-" + std::to_string(id), false};
    return id;
}

AudioObjectID FakeAudioHardware::injectAggregate(const std::string& uid, const std::string& name) {
    std::lock_guard lock(mutex_);
    const AudioObjectID id = nextObjectID_++;
    aggregates_[id] = Aggregate{id, AggregateSpec{uid, name, "", ""}};
    return id;
}

void FakeAudioHardware::fail(Op op, std::int32_t code, int times) {
    std::lock_guard lock(mutex_);
    failures_[op] = Failure{code, times};
}

void FakeAudioHardware::clearFailures() {
    std::lock_guard lock(mutex_);
    failures_.clear();
}

float FakeAudioHardware::tappedSignal(AudioObjectID aggregate) const {
    auto agg = aggregates_.find(aggregate);
    if (agg == aggregates_.end()) {
        return 0.0f;
    }
    for (const auto& [tapID, tap] : taps_) {
        if (tap.uid != agg->second.request.tapUID) {
            continue;
        }
        for (const auto& [pid, objectID] : processes_) {
            auto signal = signals_.find(pid);
            if (objectID == tap.processObject && signal != signals_.end()) {
                return signal->second;
            }
        }
    }
    return 0.0f;
}

void FakeAudioHardware::runBlock(const IOProc& proc, std::size_t frames) {
    const float amplitude = tappedSignal(proc.aggregate);
    inputScratch_.assign(frames * 2, amplitude);
    outputScratch_.assign(frames * 2, 0.0f);
    AudioBuffer in{2, static_cast<std::uint32_t>(frames * 2 * sizeof(float)), inputScratch_.data()};
    AudioBuffer out{2, static_cast<std::uint32_t>(frames * 2 * sizeof(float)),
                    outputScratch_.data()};
    AudioBufferList inList{1, &in};
    AudioBufferList outList{1, &out};
    const AudioTimeStamp stamp{};
    proc.block(stamp, inList, stamp, outList, stamp);
    float peak = 0.0f;
    for (const float s : outputScratch_) {
        peak = std::max(peak, std::fabs(s));
    }
    lastPeaks_[proc.aggregate] = peak;
}

std::size_t FakeAudioHardware::renderCycle(std::size_t frames) {
    std::lock_guard lock(mutex_);
    for (const auto& [token, proc] : io_) {
        runBlock(proc, frames);
    }
    for (const auto& proc : strayIO_) {
        runBlock(proc, frames);
    }
    return io_.size() + strayIO_.size();
}

float FakeAudioHardware::lastOutputPeak(AudioObjectID aggregate) const {
    std::lock_guard lock(mutex_);
    auto it = lastPeaks_.find(aggregate);
    return it == lastPeaks_.end() ? 0.0f : it->second;
}

float FakeAudioHardware::ownRouteLevel(pid_type pid) const {
    std::lock_guard lock(mutex_);
    auto process = processes_.find(pid);
    auto signal = signals_.find(pid);
    if (process == processes_.end() || signal == signals_.end()) {
        return 0.0f;
    }
    for (const auto& [id, tap] : taps_) {
        if (tap.processObject == process->second && tap.muted) {
            return 0.0f;
        }
    }
    return signal->second;
}

std::vector<FakeAudioHardware::Tap> FakeAudioHardware::taps() const {
    std::lock_guard lock(mutex_);
    std::vector<Tap> result;
    for (const auto& [id, tap] : taps_) {
        result.push_back(tap);
    }
    return result;
}

std::vector<FakeAudioHardware::Aggregate> FakeAudioHardware::aggregates() const {
    std::lock_guard lock(mutex_);
    std::vector<Aggregate> result;
    for (const auto& [id, aggregate] : aggregates_) {
        result.push_back(aggregate);
    }
    return result;
}

std::vector<IOHandle> FakeAudioHardware::runningIO() const {
    std::lock_guard lock(mutex_);
    std::vector<IOHandle> result;
    for (const auto& [token, proc] : io_) {
        result.push_back(IOHandle{proc.aggregate, token});
    }
    return result;
}

std::size_t FakeAudioHardware::strayIOCount() const {
    std::lock_guard lock(mutex_);
    return strayIO_.size();
}

std::vector<FakeAudioHardware::Op> FakeAudioHardware::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::size_t FakeAudioHardware::callCount(Op op) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count(calls_.begin(), calls_.end(), op));
}

void FakeAudioHardware::clearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

void FakeAudioHardware::setOnDeviceChange(DeviceChangeCallback callback) {
    std::lock_guard lock(mutex_);
    onDeviceChange_ = std::move(callback);
}

AudioHardware::DeviceChangeCallback FakeAudioHardware::onDeviceChange() const {
    std::lock_guard lock(mutex_);
    return onDeviceChange_;
}

TapHandle FakeAudioHardware::createTap(AudioObjectID processObject, const std::string& name,
                                       bool muted) {
    std::lock_guard lock(mutex_);
    step(Op::createTap);
    const bool known = std::any_of(processes_.begin(), processes_.end(),
                                   [&](const auto& p) { return p.second == processObject; });
    if (!known) {
        throw AudioHardwareError::status(operationName(Op::createTap), noEntry);
    }
    const AudioObjectID id = nextObjectID_++;
    Tap tap{id, processObject, name, "tap-" + std::to_string(id), muted};
    taps_[id] = tap;
    try {
        step(Op::readTapUID);
    } catch (const AudioHardwareError&) {
        taps_.erase(id); // as the adapter does: a tap without a readable UID is destroyed
        throw;
    }
    return TapHandle{id, tap.uid};
}

void FakeAudioHardware::destroyTap(AudioObjectID tap) {
    std::lock_guard lock(mutex_);
    step(Op::destroyTap);
    if (taps_.erase(tap) == 0) {
        throw AudioHardwareError::status(operationName(Op::destroyTap), noEntry);
    }
}

AudioObjectID FakeAudioHardware::createAggregate(const AggregateSpec& request) {
    std::unique_lock lock(mutex_);
    step(Op::createAggregate);
    const bool tapKnown = std::any_of(
        taps_.begin(), taps_.end(), [&](const auto& t) { return t.second.uid == request.tapUID; });
    const Device* device = findDevice(request.outputDeviceUID);
    if (!tapKnown || device == nullptr) {
        throw AudioHardwareError::status(operationName(Op::createAggregate), noDevice);
    }
    const AudioObjectID id = nextObjectID_++;
    aggregates_[id] = Aggregate{id, request};
    reportDeviceChange(lock);
    return id;
}

void FakeAudioHardware::destroyAggregate(AudioObjectID aggregate) {
    std::unique_lock lock(mutex_);
    step(Op::destroyAggregate);
    if (aggregates_.erase(aggregate) == 0) {
        throw AudioHardwareError::status(operationName(Op::destroyAggregate), noEntry);
    }
    lastPeaks_.erase(aggregate);
    reportDeviceChange(lock);
}

IOHandle FakeAudioHardware::startIO(AudioObjectID aggregate, IOBlock block) {
    std::lock_guard lock(mutex_);
    step(Op::createIOProc);
    if (aggregates_.count(aggregate) == 0) {
        throw AudioHardwareError::status(operationName(Op::createIOProc), noDevice);
    }
    step(Op::startDevice); // a failed start leaves no procedure and uses no token
    const std::uint64_t token = nextToken_++;
    io_[token] = IOProc{aggregate, std::move(block)};
    return IOHandle{aggregate, token};
}

void FakeAudioHardware::stopIO(const IOHandle& handle) {
    std::lock_guard lock(mutex_);
    auto it = io_.find(handle.token);
    if (it == io_.end()) {
        throw AudioHardwareError::noSuchObject();
    }
    IOProc proc = std::move(it->second);
    io_.erase(it);
    std::optional<AudioHardwareError> error;
    try {
        step(Op::stopDevice);
    } catch (const AudioHardwareError& e) {
        error = e;
    }
    try {
        step(Op::destroyIOProc);
    } catch (const AudioHardwareError& e) {
        if (!error) {
            error = e;
        }
    }
    if (error) {
        // The platform may go on calling a procedure it failed to stop or destroy.
        strayIO_.push_back(std::move(proc));
        throw *error;
    }
}

AudioObjectID FakeAudioHardware::processObject(pid_type pid) {
    std::lock_guard lock(mutex_);
    step(Op::processObject);
    auto it = processes_.find(pid);
    if (it == processes_.end()) {
        throw AudioHardwareError::noSuchObject();
    }
    return it->second;
}

std::string FakeAudioHardware::defaultOutputDeviceUID() {
    std::lock_guard lock(mutex_);
    step(Op::defaultOutputDevice);
    if (!defaultOutput_) {
        throw AudioHardwareError::noSuchObject();
    }
    step(Op::readDefaultUID);
    return *defaultOutput_;
}

std::optional<std::string> FakeAudioHardware::routedOutputDeviceUID(AudioObjectID processObject) {
    std::lock_guard lock(mutex_);
    for (const auto& [pid, id] : processes_) {
        if (id == processObject) {
            if (auto routed = routedOutputs_.find(pid); routed != routedOutputs_.end()) {
                return routed->second;
            }
        }
    }
    return std::nullopt;
}

std::vector<AudioDeviceInfo> FakeAudioHardware::outputDevices() {
    std::lock_guard lock(mutex_);
    step(Op::deviceListSize);
    step(Op::deviceList);
    std::vector<AudioDeviceInfo> result;
    for (const auto& [id, device] : devices_) {
        result.push_back(AudioDeviceInfo{id, device.uid, device.name,
                                         device.transport == DeviceTransport::aggregate,
                                         device.transport, device.outputChannels});
    }
    for (const auto& [id, aggregate] : aggregates_) {
        const Device* sub = findDevice(aggregate.request.outputDeviceUID);
        result.push_back(AudioDeviceInfo{id, aggregate.request.uid, aggregate.request.name, true,
                                         DeviceTransport::aggregate,
                                         sub ? sub->outputChannels : 2});
    }
    return result;
}

bool FakeAudioHardware::isDeviceAlive(const std::string& uid) {
    std::lock_guard lock(mutex_);
    if (const Device* device = findDevice(uid)) {
        return device->alive;
    }
    return std::any_of(aggregates_.begin(), aggregates_.end(),
                       [&](const auto& a) { return a.second.request.uid == uid; });
}

std::vector<TapListEntry> FakeAudioHardware::listTaps() {
    std::lock_guard lock(mutex_);
    step(Op::tapListSize);
    step(Op::tapList);
    std::vector<TapListEntry> result;
    for (const auto& [id, tap] : taps_) {
        result.push_back(TapListEntry{id, tap.name});
    }
    return result;
}

} // namespace brindell
