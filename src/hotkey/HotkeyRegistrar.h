#pragma once

#include "hotkey/HotkeyCombo.h"

#include <functional>

namespace brindell {

// The platform's registration of the one global shortcut. Main thread only; the handler is
// called on the main thread.
class HotkeyRegistrar {
public:
    virtual ~HotkeyRegistrar() = default;

    // Replaces any earlier registration with combo, calling handler on each press. Throws
    // HotkeyError (inUse when another client holds the combination, unavailable without a
    // display server that offers global shortcuts). After a failure nothing is registered.
    virtual void registerCombo(const HotkeyCombo& combo, std::function<void()> handler) = 0;

    // Drops the registration and the handler. Safe when nothing is registered.
    virtual void unregister() = 0;
};

} // namespace brindell
