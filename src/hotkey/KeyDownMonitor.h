#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace brindell {

// A key press captured inside the program's own windows: Brindell's key code (see
// KeySymbols.h; a key without one carries unknownKeyCode) and the modifier flags of
// HotkeyModifiers (commandFlag ...).
struct KeyDownEvent {
    static constexpr std::uint32_t unknownKeyCode = 0xffffffff;
    std::uint32_t keyCode = unknownKeyCode;
    std::uint64_t modifierFlags = 0;
};

// An installed local key-down monitor; destroying it removes the monitor.
class KeyDownMonitor {
public:
    virtual ~KeyDownMonitor() = default;
};

// Installs a monitor for key-down events of non-modifier keys addressed to the program's own
// windows. The handler runs on the main thread and returns true to swallow the event, so it never
// reaches the window. Returns null when the monitor cannot be installed.
using KeyDownMonitorInstaller =
    std::function<std::unique_ptr<KeyDownMonitor>(std::function<bool(const KeyDownEvent&)>)>;

} // namespace brindell
