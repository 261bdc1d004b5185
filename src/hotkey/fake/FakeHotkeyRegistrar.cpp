#include "hotkey/fake/FakeHotkeyRegistrar.h"

#include "hotkey/HotkeyError.h"

#include <algorithm>

namespace brindell {

void FakeHotkeyRegistrar::registerCombo(const HotkeyCombo& combo, std::function<void()> handler) {
    attempts.push_back(combo);
    if (onAttempt) {
        onAttempt(combo);
    }
    // Like the real one, the earlier grab is released before the new one is tried.
    registered.reset();
    if (unavailable) {
        throw HotkeyError(HotkeyError::Case::unavailable);
    }
    if (std::find(heldByOthers.begin(), heldByOthers.end(), combo) != heldByOthers.end()) {
        throw HotkeyError(HotkeyError::Case::inUse);
    }
    registered = combo;
    handler_ = std::move(handler);
}

void FakeHotkeyRegistrar::unregister() {
    registered.reset();
    handler_ = nullptr;
}

bool FakeHotkeyRegistrar::press(const HotkeyCombo& combo) {
    if (registered != combo || !handler_) {
        return false;
    }
    handler_();
    return true;
}

} // namespace brindell
