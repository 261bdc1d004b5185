#include "XvfbServer.h"

#include <sys/wait.h>

// Last: Xlib's macros would rename words used above.
#include <X11/Xlib.h>

namespace brindell::test {

XvfbServer::XvfbServer(const std::string& screen) {
    try {
        testing::ChildProcess::Options options;
        options.argv = {"Xvfb", "-displayfd", "1",   "-screen", "0",
                        screen, "-nolisten",  "tcp", "-noreset"};
        options.environment = testing::currentEnvironment();
        options.pipeStdout = true;
        server_ = std::make_unique<testing::ChildProcess>(options);
    } catch (const std::exception& e) {
        error_ = std::string("cannot start Xvfb: ") + e.what();
        return;
    }
    // Xvfb writes its display number and a newline once it accepts connections.
    if (const auto number = server_->readLine(std::chrono::seconds(15))) {
        display_ = ":" + *number;
    } else {
        error_ = "Xvfb did not report a display";
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
