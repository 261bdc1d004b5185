#include "output/OutputDeviceController.h"

#include "audio/Volume.h"

#include <algorithm>
#include <cmath>

namespace brindell {

std::shared_ptr<OutputDeviceController>
OutputDeviceController::create(std::shared_ptr<SystemAudioControl> control,
                               std::shared_ptr<AudioHardware> hardware, NameCollator collator) {
    return std::shared_ptr<OutputDeviceController>(
        new OutputDeviceController(std::move(control), std::move(hardware), std::move(collator)));
}

OutputDeviceController::OutputDeviceController(std::shared_ptr<SystemAudioControl> control,
                                               std::shared_ptr<AudioHardware> hardware,
                                               NameCollator collator)
    : control_(std::move(control)), hardware_(std::move(hardware)), collator_(std::move(collator)) {
}

void OutputDeviceController::start(std::shared_ptr<SerialQueue> queue, Seconds coalescing) {
    stop();
    queue_ = std::move(queue);
    coalescing_ = coalescing;
    const std::uint64_t generation = generation_;
    const std::weak_ptr<OutputDeviceController> weakSelf = weak_from_this();
    const std::weak_ptr<SerialQueue> weakQueue = queue_;

    // Runs on the control's listener thread: nothing here but the hop.
    control_->setOnChange([weakSelf, weakQueue, generation] {
        const auto target = weakQueue.lock();
        if (!target) {
            return;
        }
        target->async([weakSelf, generation] {
            const auto self = weakSelf.lock();
            if (self && self->generation_ == generation) {
                self->coalesceChange();
            }
        });
    });

    queue_->async([weakSelf, generation] {
        const auto self = weakSelf.lock();
        if (!self || self->generation_ != generation) {
            return;
        }
        try {
            self->refresh();
        } catch (const AudioHardwareError&) {
            // No default output yet: the next change report refreshes again.
        }
    });
}

void OutputDeviceController::coalesceChange() {
    if (refreshPending_) {
        return;
    }
    refreshPending_ = true;
    const std::weak_ptr<OutputDeviceController> weakSelf = weak_from_this();
    const std::uint64_t generation = generation_;
    queue_->asyncAfter(coalescing_, [weakSelf, generation] {
        const auto self = weakSelf.lock();
        if (!self || self->generation_ != generation) {
            return; // stopped meanwhile: stop already cleared refreshPending_
        }
        self->refreshPending_ = false;
        try {
            self->refresh();
        } catch (const AudioHardwareError&) {
            // The state stays as it was until the next report.
        }
    });
}

void OutputDeviceController::stop() {
    ++generation_; // work queued before this point finds itself outdated and does nothing
    refreshPending_ = false;
    control_->setOnChange({});
    control_->stopObservingDevice();
    observedUID_.reset();
}

std::string OutputDeviceController::deviceName(const std::string& uid) {
    try {
        for (const AudioDeviceInfo& device : hardware_->outputDevices()) {
            if (device.uid == uid && !device.name.empty()) {
                return device.name;
            }
        }
    } catch (const AudioHardwareError&) {
        // An unreadable device list leaves the name unknown: the UID stands in.
    }
    return uid;
}

OutputState OutputDeviceController::refresh() {
    std::string uid = control_->defaultOutputUID();
    uid = control_->mainDeviceUID(uid);

    OutputState next;
    next.deviceName = deviceName(uid);
    if (const auto volume = control_->volume(uid)) {
        // Reads are cleaned too, so a NaN from the server can neither reach the slider nor make
        // every refresh look new.
        next.volume = cleanVolume(*volume, state_ && state_->volume ? *state_->volume : 0.0f);
    }
    next.isMuted = control_->isMuted(uid);

    if (observedUID_ != uid) {
        observedUID_ = uid;
        control_->observeDevice(uid);
    }
    next.deviceUID = std::move(uid);

    if (state_ != next) {
        state_ = next;
        if (onChange_) {
            onChange_(state_);
        }
    }
    return next;
}

void OutputDeviceController::setVolume(float value) {
    if (!state_) {
        throw ControlError(ControlError::Kind::noDefaultOutput);
    }
    if (!state_->volume) {
        throw ControlError(ControlError::Kind::noSoftwareVolume);
    }
    control_->setVolume(state_->deviceUID, cleanVolume(value, *state_->volume));
    refresh();
}

void OutputDeviceController::setMuted(bool muted) {
    if (!state_ || !state_->isMuted) {
        return;
    }
    try {
        control_->setMuted(state_->deviceUID, muted);
        refresh();
    } catch (const AudioHardwareError&) {
        // Refused: the panel keeps showing the state the system reports.
    }
}

void OutputDeviceController::setDefaultOutput(const std::string& uid) {
    const std::vector<AudioDeviceInfo> choices = outputs();
    const bool listed =
        std::any_of(choices.begin(), choices.end(),
                    [&](const AudioDeviceInfo& device) { return device.uid == uid; });
    if (!listed) {
        throw ControlError(ControlError::Kind::deviceUnavailable);
    }
    control_->setDefaultOutput(uid);
    refresh();
}

std::vector<AudioDeviceInfo> OutputDeviceController::outputs() {
    std::optional<std::string> defaultUID;
    try {
        defaultUID = control_->defaultOutputUID();
    } catch (const AudioHardwareError&) {
        // No device is shown as the default.
    }
    std::vector<AudioDeviceInfo> devices;
    try {
        devices = hardware_->outputDevices();
    } catch (const AudioHardwareError&) {
        return {};
    }

    struct Entry {
        bool isDefault;
        NameCollator::Key key;
        AudioDeviceInfo device;
    };
    std::vector<Entry> entries;
    for (AudioDeviceInfo& device : devices) {
        // Combined devices, Brindell's own per-app sinks among them, are never offered.
        if (device.outputChannels <= 0 || device.isPrivateAggregate ||
            device.transport == DeviceTransport::aggregate ||
            !hardware_->isDeviceAlive(device.uid)) {
            continue;
        }
        const bool isDefault = defaultUID == device.uid;
        NameCollator::Key key = collator_.key(device.name);
        entries.push_back(Entry{isDefault, std::move(key), std::move(device)});
    }
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        if (a.isDefault != b.isDefault) {
            return a.isDefault;
        }
        return collator_.compare(a.key, b.key) < 0;
    });

    std::vector<AudioDeviceInfo> result;
    result.reserve(entries.size());
    for (Entry& entry : entries) {
        result.push_back(std::move(entry.device));
    }
    return result;
}

} // namespace brindell
