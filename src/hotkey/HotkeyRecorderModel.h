#pragma once

#include "hotkey/HotkeyCombo.h"
#include "hotkey/HotkeyController.h"
#include "hotkey/KeyDownMonitor.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindell {

// Records a new global shortcut in the settings window: captures the next key press, hands it
// to the controller's apply and publishes the shortcut, the recording state and a one-line
// message. Owned by the shell through a shared_ptr (the key monitor holds it weakly); main thread
// only.
class HotkeyRecorderModel : public std::enable_shared_from_this<HotkeyRecorderModel> {
public:
    static constexpr const char* promptMessage = "Press the new shortcut (Esc to cancel)";
    static constexpr const char* fallbackMessage =
        "Your saved shortcut is used by another app, so the default was restored.";

    static std::shared_ptr<HotkeyRecorderModel> create(std::shared_ptr<HotkeyController> controller,
                                                       KeyDownMonitorInstaller installMonitor);

    const HotkeyCombo& combo() const { return combo_; }
    bool isRecording() const { return isRecording_; }
    const std::optional<std::string>& message() const { return message_; }

    // Called after every change of combo, isRecording or message; the view re-reads them.
    void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

    void startRecording();
    void stopRecording();
    void resetToDefault();
    // One captured key press: Esc cancels, anything else is applied.
    void recordKey(const KeyDownEvent& event);

    // Run by the shell right after it has started the controller: takes up the controller's
    // shortcut and, when the saved shortcut was refused, the notice explaining it.
    void takeUpFallbackNotice();

    HotkeyRecorderModel(std::shared_ptr<HotkeyController> controller,
                        KeyDownMonitorInstaller installMonitor);

private:
    void setMessage(std::optional<std::string> message);
    void changed();

    HotkeyCombo combo_;
    bool isRecording_ = false;
    std::optional<std::string> message_;
    std::shared_ptr<HotkeyController> controller_;
    KeyDownMonitorInstaller installMonitor_;
    std::unique_ptr<KeyDownMonitor> monitor_;
    std::function<void()> onChange_ = [] {};
};

// The text the settings window shows for a failure of apply.
std::string hotkeyFailureMessage(const std::exception& error);

} // namespace brindell
