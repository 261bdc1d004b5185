#include "XvfbServer.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// Last: Xlib's macros would rename words used above.
#include <X11/Xlib.h>

extern char** environ;

namespace brindell::test {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> cArgs(std::vector<std::string>& args) {
    std::vector<char*> out;
    for (auto& arg : args) {
        out.push_back(arg.data());
    }
    out.push_back(nullptr);
    return out;
}

// Waits for pid until the deadline; kills it when the deadline passes. True with exit code 0.
bool reap(pid_t pid, Clock::time_point deadline) {
    int status = 0;
    while (true) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        if (done < 0 && errno != EINTR) {
            return false;
        }
        if (Clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5)); // polling the exit, no timing
    }
}

} // namespace

XvfbServer::XvfbServer(const std::string& screen) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The write end becomes fd 3 in the child, without close-on-exec.
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args{"Xvfb", "-displayfd", "3",   "-screen", "0",
                                  screen, "-nolisten",  "tcp", "-noreset"};
    auto argv = cArgs(args);
    const int spawned = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        pid_ = -1;
        close(fds[0]);
        error_ = std::string("cannot start Xvfb: ") + std::strerror(spawned);
        return;
    }
    // Xvfb writes its display number and a newline once it accepts connections.
    std::string number;
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (number.find('\n') == std::string::npos && Clock::now() < deadline) {
        pollfd pfd{fds[0], POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buffer[32];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) {
            break; // Xvfb exited
        }
        number.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        error_ = "Xvfb did not report a display";
        return;
    }
    display_ = ":" + number.substr(0, number.find('\n'));
}

XvfbServer::~XvfbServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        reap(pid_, Clock::now() + std::chrono::seconds(10));
    }
}

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
    std::vector<std::string> env{"DISPLAY=" + display};
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "DISPLAY=", 8) != 0) {
            env.emplace_back(*e);
        }
    }
    auto args = argv;
    auto cArgv = cArgs(args);
    auto cEnv = cArgs(env);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args.front().c_str(), nullptr, nullptr, cArgv.data(), cEnv.data()) !=
        0) {
        return false;
    }
    return reap(pid, Clock::now() + timeout);
}

} // namespace brindell::test
