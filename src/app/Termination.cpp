#include "app/Termination.h"

#include <csignal>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace brindell {

Termination::Termination() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signalFd_ = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_CLOEXEC);
    if (signalFd_ >= 0 && wakeFd_ >= 0) {
        thread_ = std::thread([this] { run(); });
    }
}

Termination::~Termination() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    if (signalFd_ >= 0) {
        close(signalFd_);
    }
    if (wakeFd_ >= 0) {
        close(wakeFd_);
    }
}

void Termination::run() {
    while (true) {
        pollfd fds[2] = {{signalFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            continue; // EINTR
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        signalfd_siginfo info{};
        if (read(signalFd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
            continue;
        }
        const int signo = static_cast<int>(info.ssi_signo);
        std::function<void(int)> handler;
        {
            std::lock_guard lock(mutex_);
            if (reason_) {
                continue; // already ending
            }
            reason_ = signo;
            handler = handler_;
        }
        ended_.notify_all();
        if (handler) {
            handler(signo);
        }
    }
}

void Termination::setHandler(std::function<void(int)> handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void Termination::request(int code) {
    {
        std::lock_guard lock(mutex_);
        if (reason_) {
            return;
        }
        reason_ = code;
    }
    ended_.notify_all();
}

int Termination::wait() {
    std::unique_lock lock(mutex_);
    ended_.wait(lock, [&] { return reason_.has_value(); });
    return *reason_;
}

std::optional<int> Termination::waitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    ended_.wait_for(lock, timeout, [&] { return reason_.has_value(); });
    return reason_;
}

} // namespace brindell
