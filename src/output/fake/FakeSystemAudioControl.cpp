#include "output/fake/FakeSystemAudioControl.h"

#include <algorithm>

namespace brindell {

namespace {
// The server's refusal of a mute write on a device without mute control, as -ENOTSUP.
constexpr std::int32_t notSupported = -95;
} // namespace

const char* FakeSystemAudioControl::operationName(Op op) {
    switch (op) {
    case Op::readDefaultOutput:
        return "DefaultOutputDevice";
    case Op::setDefaultOutput:
        return "SetDefaultOutput";
    case Op::setVolume:
        return "SetVolume";
    case Op::setMute:
        return "SetMute";
    }
    return "";
}

FakeSystemAudioControl::FakeSystemAudioControl(std::shared_ptr<SerialQueue> listenerQueue)
    : listenerQueue_(std::move(listenerQueue)) {}

FakeSystemAudioControl::~FakeSystemAudioControl() = default;

void FakeSystemAudioControl::record(const char* operation) {
    ++calls_[operation];
}

void FakeSystemAudioControl::step(Op op) {
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

FakeSystemAudioControl::Device* FakeSystemAudioControl::find(const std::string& uid) {
    auto it = std::find_if(devices_.begin(), devices_.end(),
                           [&](const Device& device) { return device.uid == uid; });
    return it == devices_.end() ? nullptr : &*it;
}

void FakeSystemAudioControl::report(std::unique_lock<std::mutex>& lock, int times) {
    const ChangeCallback callback = onChange_;
    if (!callback) {
        return;
    }
    for (int i = 0; i < times; ++i) {
        if (listenerQueue_) {
            listenerQueue_->async(callback);
        } else {
            lock.unlock();
            callback();
            lock.lock();
        }
    }
}

void FakeSystemAudioControl::reportIfObserved(std::unique_lock<std::mutex>& lock,
                                              const std::string& uid, int times) {
    if (observed_ == uid) {
        report(lock, times);
    }
}

void FakeSystemAudioControl::addDevice(Device device) {
    std::unique_lock lock(mutex_);
    devices_.push_back(std::move(device));
    report(lock);
}

void FakeSystemAudioControl::removeDevice(const std::string& uid) {
    std::unique_lock lock(mutex_);
    std::erase_if(devices_, [&](const Device& device) { return device.uid == uid; });
    report(lock);
}

void FakeSystemAudioControl::setSystemDefault(std::optional<std::string> uid) {
    std::unique_lock lock(mutex_);
    default_ = std::move(uid);
    report(lock);
}

void FakeSystemAudioControl::changeVolume(const std::string& uid, float volume) {
    std::unique_lock lock(mutex_);
    if (Device* device = find(uid); device != nullptr && device->volume) {
        device->volume = volume;
        reportIfObserved(lock, uid, device->volumeReports);
    }
}

void FakeSystemAudioControl::changeMute(const std::string& uid, bool muted) {
    std::unique_lock lock(mutex_);
    if (Device* device = find(uid); device != nullptr && device->muted) {
        device->muted = muted;
        reportIfObserved(lock, uid, 1);
    }
}

void FakeSystemAudioControl::reportChange() {
    std::unique_lock lock(mutex_);
    report(lock);
}

void FakeSystemAudioControl::fail(Op op, std::int32_t code, int times) {
    std::lock_guard lock(mutex_);
    failures_[op] = Failure{code, times};
}

void FakeSystemAudioControl::clearFailures() {
    std::lock_guard lock(mutex_);
    failures_.clear();
}

std::optional<FakeSystemAudioControl::Device>
FakeSystemAudioControl::device(const std::string& uid) const {
    std::lock_guard lock(mutex_);
    for (const Device& device : devices_) {
        if (device.uid == uid) {
            return device;
        }
    }
    return std::nullopt;
}

std::optional<std::string> FakeSystemAudioControl::systemDefault() const {
    std::lock_guard lock(mutex_);
    return default_;
}

std::optional<std::string> FakeSystemAudioControl::observedDevice() const {
    std::lock_guard lock(mutex_);
    return observed_;
}

bool FakeSystemAudioControl::hasOnChange() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(onChange_);
}

std::size_t FakeSystemAudioControl::callCount(const std::string& operation) const {
    std::lock_guard lock(mutex_);
    auto it = calls_.find(operation);
    return it == calls_.end() ? 0 : it->second;
}

void FakeSystemAudioControl::clearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

void FakeSystemAudioControl::setOnChange(ChangeCallback callback) {
    std::lock_guard lock(mutex_);
    onChange_ = std::move(callback);
}

std::string FakeSystemAudioControl::defaultOutputUID() {
    std::lock_guard lock(mutex_);
    record("defaultOutputUID");
    step(Op::readDefaultOutput);
    if (!default_ || find(*default_) == nullptr) {
        throw AudioHardwareError::noSuchObject();
    }
    return *default_;
}

void FakeSystemAudioControl::setDefaultOutput(const std::string& uid) {
    std::unique_lock lock(mutex_);
    record("setDefaultOutput");
    if (find(uid) == nullptr) {
        throw AudioHardwareError::noSuchObject();
    }
    step(Op::setDefaultOutput);
    default_ = uid;
    report(lock);
}

std::string FakeSystemAudioControl::mainDeviceUID(const std::string& uid) {
    std::lock_guard lock(mutex_);
    const Device* device = find(uid);
    return device != nullptr && !device->mainSubDevice.empty() ? device->mainSubDevice : uid;
}

std::optional<float> FakeSystemAudioControl::volume(const std::string& uid) {
    std::lock_guard lock(mutex_);
    const Device* device = find(uid);
    return device != nullptr ? device->volume : std::nullopt;
}

void FakeSystemAudioControl::setVolume(const std::string& uid, float value) {
    std::unique_lock lock(mutex_);
    record("setVolume");
    Device* device = find(uid);
    if (device == nullptr || !device->volume) {
        throw AudioHardwareError::noSuchObject();
    }
    step(Op::setVolume);
    device->volume = value; // stored as given: the caller cleans it
    reportIfObserved(lock, uid, device->volumeReports);
}

std::optional<bool> FakeSystemAudioControl::isMuted(const std::string& uid) {
    std::lock_guard lock(mutex_);
    const Device* device = find(uid);
    return device != nullptr ? device->muted : std::nullopt;
}

void FakeSystemAudioControl::setMuted(const std::string& uid, bool muted) {
    std::unique_lock lock(mutex_);
    record("setMuted");
    Device* device = find(uid);
    if (device == nullptr) {
        throw AudioHardwareError::noSuchObject();
    }
    step(Op::setMute);
    if (!device->muted) {
        throw AudioHardwareError::status(operationName(Op::setMute), notSupported);
    }
    device->muted = muted;
    reportIfObserved(lock, uid, 1);
}

void FakeSystemAudioControl::observeDevice(const std::optional<std::string>& uid) {
    std::lock_guard lock(mutex_);
    record("observeDevice");
    observed_.reset();
    if (uid && find(*uid) != nullptr) {
        observed_ = *uid;
    }
}

void FakeSystemAudioControl::stopObservingDevice() {
    std::lock_guard lock(mutex_);
    observed_.reset();
}

} // namespace brindell
