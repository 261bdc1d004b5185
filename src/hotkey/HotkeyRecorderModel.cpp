#include "hotkey/HotkeyRecorderModel.h"

#include <utility>

namespace brindell {

std::string hotkeyFailureMessage(const std::exception& error) {
    if (const auto* hotkeyError = dynamic_cast<const HotkeyError*>(&error)) {
        return hotkeyError->message();
    }
    return kHotkeyUnknownErrorMessage;
}

std::shared_ptr<HotkeyRecorderModel>
HotkeyRecorderModel::create(std::shared_ptr<HotkeyController> controller,
                            KeyDownMonitorInstaller installMonitor) {
    return std::make_shared<HotkeyRecorderModel>(std::move(controller), std::move(installMonitor));
}

HotkeyRecorderModel::HotkeyRecorderModel(std::shared_ptr<HotkeyController> controller,
                                         KeyDownMonitorInstaller installMonitor)
    : combo_(controller->combo()), controller_(std::move(controller)),
      installMonitor_(std::move(installMonitor)) {
    takeUpFallbackNotice();
}

void HotkeyRecorderModel::changed() {
    onChange_();
}

void HotkeyRecorderModel::setMessage(std::optional<std::string> message) {
    message_ = std::move(message);
}

void HotkeyRecorderModel::takeUpFallbackNotice() {
    // The controller may have swapped in the default at start; show what is really in force.
    combo_ = controller_->combo();
    if (const auto& problem = controller_->lastProblem()) {
        // The notice promises a restored default; when even that failed, name the real problem.
        setMessage(controller_->isRegistered() ? std::string(fallbackMessage) : problem->message());
    }
    changed();
}

void HotkeyRecorderModel::startRecording() {
    isRecording_ = true;
    setMessage(std::string(promptMessage));
    monitor_.reset();
    if (installMonitor_) {
        std::weak_ptr<HotkeyRecorderModel> weakSelf = weak_from_this();
        monitor_ = installMonitor_([weakSelf](const KeyDownEvent& event) {
            const auto self = weakSelf.lock();
            if (!self) {
                return false; // the model is gone: pass the key on untouched
            }
            self->recordKey(event);
            return true;
        });
    }
    changed();
}

void HotkeyRecorderModel::stopRecording() {
    monitor_.reset();
    isRecording_ = false;
    changed();
}

void HotkeyRecorderModel::recordKey(const KeyDownEvent& event) {
    if (event.keyCode == escapeKeyCode) {
        monitor_.reset();
        isRecording_ = false;
        setMessage(std::nullopt);
        changed();
        return;
    }
    const HotkeyCombo candidate{event.keyCode,
                                HotkeyModifiers::fromEventFlags(event.modifierFlags)};
    try {
        controller_->apply(candidate);
    } catch (const std::exception& error) {
        // Recording goes on, so the next key press is tried at once.
        setMessage(hotkeyFailureMessage(error));
        changed();
        return;
    }
    combo_ = controller_->combo();
    setMessage(std::nullopt);
    monitor_.reset();
    isRecording_ = false;
    changed();
}

void HotkeyRecorderModel::resetToDefault() {
    try {
        controller_->apply(defaultCombo);
    } catch (const std::exception& error) {
        setMessage(hotkeyFailureMessage(error));
        changed();
        return;
    }
    combo_ = controller_->combo();
    setMessage(std::nullopt);
    changed();
}

} // namespace brindell
