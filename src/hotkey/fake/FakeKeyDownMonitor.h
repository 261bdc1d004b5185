#pragma once

#include "hotkey/KeyDownMonitor.h"

#include <memory>
#include <optional>

namespace brindell {

// Stands in for the toolkit's local key monitor: installer() hands out monitors, send() delivers
// a key press to the one installed, as the settings window would.
class FakeKeyDownMonitors {
public:
    FakeKeyDownMonitors();

    KeyDownMonitorInstaller installer();

    // None when no monitor is installed (the key reaches the window); else whether the monitor
    // swallowed it.
    std::optional<bool> send(const KeyDownEvent& event);

    bool isInstalled() const;
    int installs() const;
    // The platform refuses new monitors while set.
    void refuseInstalls(bool refuse);

    struct State; // shared with the monitors handed out

private:
    std::shared_ptr<State> state_;
};

} // namespace brindell
