#include "sources/fake/FakeAudioProcessSource.h"

#include <algorithm>

namespace brindell {

FakeAudioProcessSource::FakeAudioProcessSource(std::shared_ptr<SerialQueue> listenerQueue)
    : listenerQueue_(std::move(listenerQueue)) {}

AudioObjectID FakeAudioProcessSource::play(pid_type pid, std::optional<std::string> bundleID,
                                           bool output) {
    std::unique_lock lock(mutex_);
    auto found = std::find_if(processes_.begin(), processes_.end(),
                              [&](const auto& p) { return p.pid == pid; });
    if (found == processes_.end()) {
        processes_.push_back({nextObjectID_++, pid, std::nullopt, false, false, false});
        found = std::prev(processes_.end());
    }
    found->bundleID = std::move(bundleID);
    found->isRunningOutput = output;
    found->isRunning = output || found->isRunningInput;
    const AudioObjectID id = found->objectID;
    changed(lock);
    return id;
}

void FakeAudioProcessSource::setRunning(pid_type pid, bool output, bool input) {
    std::unique_lock lock(mutex_);
    for (AudioProcessInfo& process : processes_) {
        if (process.pid == pid) {
            process.isRunningOutput = output;
            process.isRunningInput = input;
            process.isRunning = output || input;
        }
    }
    changed(lock);
}

void FakeAudioProcessSource::remove(pid_type pid) {
    std::unique_lock lock(mutex_);
    std::erase_if(processes_, [&](const auto& p) { return p.pid == pid; });
    changed(lock);
}

void FakeAudioProcessSource::setProcesses(std::vector<AudioProcessInfo> processes) {
    std::unique_lock lock(mutex_);
    processes_ = std::move(processes);
    for (const AudioProcessInfo& process : processes_) {
        nextObjectID_ = std::max(nextObjectID_, process.objectID + 1);
    }
    changed(lock);
}

void FakeAudioProcessSource::setNotifies(bool notifies) {
    const std::lock_guard lock(mutex_);
    notifies_ = notifies;
}

void FakeAudioProcessSource::changed(std::unique_lock<std::mutex>& lock) {
    ChangeCallback callback = notifies_ ? onChange_ : nullptr;
    lock.unlock();
    if (!callback) {
        return;
    }
    if (listenerQueue_) {
        listenerQueue_->async(std::move(callback));
    } else {
        callback();
    }
}

void FakeAudioProcessSource::fail(std::int32_t code, int times) {
    const std::lock_guard lock(mutex_);
    failureCode_ = code;
    failuresLeft_ = times;
}

std::size_t FakeAudioProcessSource::listCount() const {
    const std::lock_guard lock(mutex_);
    return listCount_;
}

bool FakeAudioProcessSource::hasOnChange() const {
    const std::lock_guard lock(mutex_);
    return static_cast<bool>(onChange_);
}

std::vector<AudioProcessInfo> FakeAudioProcessSource::processes() {
    const std::lock_guard lock(mutex_);
    ++listCount_;
    if (failureCode_) {
        const std::int32_t code = *failureCode_;
        if (failuresLeft_ > 0 && --failuresLeft_ == 0) {
            failureCode_.reset();
        }
        throw AudioHardwareError::status("ProcessObjectList", code);
    }
    return processes_;
}

void FakeAudioProcessSource::setOnChange(ChangeCallback callback) {
    const std::lock_guard lock(mutex_);
    onChange_ = std::move(callback);
}

} // namespace brindell
