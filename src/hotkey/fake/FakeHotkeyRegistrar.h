#pragma once

#include "hotkey/HotkeyRegistrar.h"

#include <functional>
#include <optional>
#include <vector>

namespace brindell {

// A scriptable registrar for tests: combinations "held by other apps" are refused with inUse,
// `unavailable` refuses everything as a session without X11 would, and press() plays a key press.
class FakeHotkeyRegistrar final : public HotkeyRegistrar {
public:
    void registerCombo(const HotkeyCombo& combo, std::function<void()> handler) override;
    void unregister() override;

    // Presses combo: the handler runs when it is the registered one. True when it ran.
    bool press(const HotkeyCombo& combo);

    std::vector<HotkeyCombo> heldByOthers;
    bool unavailable = false;
    // Runs at the start of every registerCombo, before the refusal rules: lets a test change
    // them mid-sequence (another app grabbing a key in between).
    std::function<void(const HotkeyCombo&)> onAttempt;

    std::optional<HotkeyCombo> registered;
    std::vector<HotkeyCombo> attempts; // every registerCombo, refused ones included

private:
    std::function<void()> handler_;
};

} // namespace brindell
