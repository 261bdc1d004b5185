#include "XvfbServer.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

// Last: Xlib's macros would rename words used above.
#include <X11/Xlib.h>

namespace brindell::test {

XvfbServer::XvfbServer(const std::string& screen) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error_ = "no pipe for Xvfb";
        return;
    }
    try {
        testing::ChildProcess::Options options;
        options.argv = {"Xvfb", "-displayfd", "3",   "-screen", "0",
                        screen, "-nolisten",  "tcp", "-noreset"};
        options.environment = testing::currentEnvironment();
        options.extraFd = fds[1];
        server_ = std::make_unique<testing::ChildProcess>(options);
    } catch (const std::exception& e) {
        error_ = std::string("cannot start Xvfb: ") + e.what();
    }
    close(fds[1]);
    // Xvfb writes its display number and a newline once it accepts connections.
    const auto number = testing::readLineFrom(fds[0], std::chrono::seconds(15));
    close(fds[0]);
    if (server_ && !number) {
        error_ = "Xvfb did not report a display";
    } else if (number) {
        display_ = ":" + *number;
    }
}

XvfbServer::~XvfbServer() = default;

namespace {
bool grabFailed = false;
int onGrabError(Display*, XErrorEvent*) {
    grabFailed = true;
    return 0;
}
Display* asDisplay(void* display) {
    return static_cast<Display*>(display);
}
} // namespace

OtherClient::OtherClient(const std::string& display) : display_(XOpenDisplay(display.c_str())) {}

OtherClient::~OtherClient() {
    if (display_ != nullptr) {
        XCloseDisplay(asDisplay(display_));
    }
}

bool OtherClient::grab(const std::string& keysym, unsigned int modifiers) {
    Display* display = asDisplay(display_);
    grabFailed = false;
    XErrorHandler previous = XSetErrorHandler(&onGrabError);
    XGrabKey(display, XKeysymToKeycode(display, XStringToKeysym(keysym.c_str())), modifiers,
             DefaultRootWindow(display), False, GrabModeAsync, GrabModeAsync);
    XSync(display, False);
    XSetErrorHandler(previous);
    return !grabFailed;
}

void OtherClient::ungrab(const std::string& keysym, unsigned int modifiers) {
    Display* display = asDisplay(display_);
    XUngrabKey(display, XKeysymToKeycode(display, XStringToKeysym(keysym.c_str())), modifiers,
               DefaultRootWindow(display));
    XSync(display, False);
}

bool runOnDisplay(const std::string& display, const std::vector<std::string>& argv,
                  std::chrono::milliseconds timeout) {
    testing::ChildProcess::Options options;
    options.argv = argv;
    options.environment = testing::currentEnvironment();
    options.environment["DISPLAY"] = display;
    try {
        testing::ChildProcess child(options);
        return child.waitExit(timeout) && child.status() && WIFEXITED(*child.status()) &&
               WEXITSTATUS(*child.status()) == 0;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace brindell::test
