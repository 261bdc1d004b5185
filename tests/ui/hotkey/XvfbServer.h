#pragma once

#include "support/ChildProcess.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace brindell::test {

// A private Xvfb on a free display (-displayfd), stopped and reaped when this is destroyed.
class XvfbServer {
public:
    // screen: WIDTHxHEIGHTxDEPTH.
    explicit XvfbServer(const std::string& screen = "320x240x24");
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // ":N", or empty when the server did not come up (error() says why).
    const std::string& display() const { return display_; }
    const std::string& error() const { return error_; }

private:
    std::unique_ptr<testing::ChildProcess> server_;
    std::string display_;
    std::string error_;
};

// X11 modifier masks, so tests need not include Xlib (its macros clash with gtest).
namespace x11mask {
inline constexpr unsigned int shift = 1U << 0;
inline constexpr unsigned int lock = 1U << 1;
inline constexpr unsigned int control = 1U << 2;
inline constexpr unsigned int mod2 = 1U << 4; // NumLock in the server's default keymap
inline constexpr unsigned int mod4 = 1U << 6; // Super
} // namespace x11mask

// Another X client: a connection of its own that grabs keys as a rival application would.
class OtherClient {
public:
    explicit OtherClient(const std::string& display);
    ~OtherClient();
    OtherClient(const OtherClient&) = delete;
    OtherClient& operator=(const OtherClient&) = delete;

    bool connected() const { return display_ != nullptr; }
    // Grabs the key of the named keysym on the root window; true when the server granted it.
    bool grab(const std::string& keysym, unsigned int modifiers);
    void ungrab(const std::string& keysym, unsigned int modifiers);

private:
    void* display_;
};

// Runs a program with DISPLAY set, waiting at most timeout; true when it exited with 0.
bool runOnDisplay(const std::string& display, const std::vector<std::string>& argv,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace brindell::test
