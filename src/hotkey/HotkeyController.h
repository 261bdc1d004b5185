#pragma once

#include "hotkey/HotkeyCombo.h"
#include "hotkey/HotkeyError.h"
#include "hotkey/HotkeyRegistrar.h"
#include "settings/SettingsStorage.h"

#include <functional>
#include <memory>
#include <optional>

namespace brindell {

// Owns the current global shortcut: loads it from the "hotkey" settings key, keeps it
// registered, falls back to the default when the saved one is refused at start, and persists
// every change. Owned by the shell; main thread only.
class HotkeyController {
public:
    // Loads the saved shortcut (the default when there is none or it breaks the load rules).
    // Registers nothing.
    HotkeyController(std::shared_ptr<HotkeyRegistrar> registrar,
                     std::shared_ptr<SettingsStorage> storage);

    // Registers the current shortcut with handler; on refusal tries the default, which then
    // replaces the saved shortcut. Never throws: without any shortcut, isRegistered stays false.
    void start(std::function<void()> handler);

    // Validates, registers and persists candidate, or throws HotkeyError and leaves the previous
    // shortcut registered and stored.
    void apply(const HotkeyCombo& candidate);

    // Drops the registration (at quit).
    void unregister();

    const HotkeyCombo& combo() const { return combo_; }
    // Why the saved shortcut was refused at start; cleared by a successful apply.
    const std::optional<HotkeyError>& lastProblem() const { return lastProblem_; }
    bool isRegistered() const { return isRegistered_; }

private:
    // Registers with the stored handler; any failure comes back as a HotkeyError.
    std::optional<HotkeyError> tryRegister(const HotkeyCombo& combo);
    void persist(const HotkeyCombo& combo);

    std::shared_ptr<HotkeyRegistrar> registrar_;
    std::shared_ptr<SettingsStorage> storage_;
    std::function<void()> handler_ = [] {};
    HotkeyCombo combo_ = defaultCombo;
    std::optional<HotkeyError> lastProblem_;
    bool isRegistered_ = false;
};

} // namespace brindell
