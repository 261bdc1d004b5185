#pragma once

#include "hotkey/HotkeyRegistrar.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindell {

// A watch on a file descriptor, run by the main thread's event loop; destroying it ends the watch.
class FdWatch {
public:
    virtual ~FdWatch() = default;
};

// Starts watching fd: onReadable runs on the main thread whenever fd has data to read.
using WatchFd = std::function<std::unique_ptr<FdWatch>(int fd, std::function<void()> onReadable)>;

// The global shortcut as a passive key grab on the X11 root window, on a display connection of
// its own. The key is grabbed once for every state of CapsLock and NumLock, so the shortcut
// works whatever the lock keys show. Held-down repeats do not fire again. Main thread only: the
// handler runs from the fd watch, on the main thread.
//
// Without an X11 display (a pure Wayland session), every registration fails with
// HotkeyError unavailable and the program runs without a shortcut.
class X11HotkeyRegistrar final : public HotkeyRegistrar {
public:
    // displayName empty: $DISPLAY.
    explicit X11HotkeyRegistrar(WatchFd watchFd, const std::string& displayName = {});
    ~X11HotkeyRegistrar() override;
    X11HotkeyRegistrar(const X11HotkeyRegistrar&) = delete;
    X11HotkeyRegistrar& operator=(const X11HotkeyRegistrar&) = delete;

    // Whether a display connection exists.
    bool isAvailable() const;

    // Throws HotkeyError inUse when another client holds any lock variant of the combination, or
    // the key is not on this keyboard; unavailable without a display.
    void registerCombo(const HotkeyCombo& combo, std::function<void()> handler) override;
    void unregister() override;

    // Reads and handles the connection's pending events; the fd watch calls it.
    void processPendingEvents();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The keysym name of a key code ("m", "F5", "space"): how xkbcommon and the desktop portal
// name keys. None for a key code without a keysym.
std::optional<std::string> keysymName(std::uint32_t keyCode);

// A WatchFd for the Qt event loop of the main thread (QSocketNotifier). Call from the main thread
// with a QCoreApplication in place.
WatchFd qtMainThreadFdWatch();

} // namespace brindell
