#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace brindell::testing {

// Counts change reports that arrive on another thread (an adapter's listener thread), and waits
// for more of them.
class ChangeCounter {
public:
    // subscribe hands the counter's callback to what reports the changes.
    explicit ChangeCounter(const std::function<void(std::function<void()>)>& subscribe) {
        subscribe([this] {
            std::lock_guard lock(mutex_);
            ++count_;
            changed_.notify_all();
        });
    }

    int count() const {
        std::lock_guard lock(mutex_);
        return count_;
    }

    // Waits for a change after `after` changes, up to timeout.
    bool waitBeyond(int after, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return count_ > after; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int count_ = 0;
};

} // namespace brindell::testing
