#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace brindell {

// SIGTERM and SIGINT end brindell through its normal termination path, in every mode.
//
// Construct it first in main, before any other thread starts: it blocks both signals in the
// calling thread, which every later thread inherits, and takes them on a thread of its own. A
// mode that waits for the end calls wait(); for the other modes a handler runs on that thread.
class Termination {
public:
    Termination();
    ~Termination();
    Termination(const Termination&) = delete;
    Termination& operator=(const Termination&) = delete;

    // Runs on the signal thread for the first stop signal; none leaves it to wait().
    void setHandler(std::function<void(int signo)> handler);

    // Ends a wait without a signal (a diagnostic that gives up); code is what wait() returns.
    void request(int code);

    // Waits for a stop signal or request(); the signal number or the requested code.
    int wait();
    // The same, up to timeout; none when it passed first.
    std::optional<int> waitFor(std::chrono::milliseconds timeout);

private:
    void run();

    std::mutex mutex_;
    std::condition_variable ended_;
    std::optional<int> reason_;
    std::function<void(int)> handler_;
    int signalFd_ = -1;
    int wakeFd_ = -1;
    std::thread thread_;
};

} // namespace brindell
