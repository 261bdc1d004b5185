#include "queue/ThreadQueue.h"

#include <atomic>
#include <chrono>
#include <future>

namespace brindell {

namespace {

class Cancellable final : public WorkItem, public RepeatingTimer {
public:
    void cancel() override { cancelled_.store(true, std::memory_order_relaxed); }
    bool isCancelled() const override { return cancelled_.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> cancelled_{false};
};

std::chrono::steady_clock::time_point toTimePoint(Seconds t) {
    return std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(t)));
}

} // namespace

struct ThreadQueue::Timed {
    std::shared_ptr<Cancellable> handle;
    std::function<void()> work;
    Seconds interval = 0; // 0: runs once
};

ThreadQueue::ThreadQueue(std::string label) : label_(std::move(label)) {
    thread_ = std::thread([queue = this, state = state_] { run(queue, state); });
}

ThreadQueue::~ThreadQueue() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    if (std::this_thread::get_id() == thread_.get_id()) {
        thread_.detach(); // destroyed from its own work: the thread ends after this work returns
    } else {
        thread_.join();
    }
}

void ThreadQueue::async(std::function<void()> work) {
    {
        std::lock_guard lock(state_->mutex);
        state_->ready.push_back(std::move(work));
        // Under the lock: once it is released the work may run and destroy this queue.
        state_->wake.notify_one();
    }
}

bool ThreadQueue::sync(std::function<void()> work) {
    if (isCurrent()) {
        return false;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    async([&work, &done] {
        work();
        done.set_value();
    });
    finished.wait();
    return true;
}

std::shared_ptr<WorkItem> ThreadQueue::asyncAfter(Seconds delay, std::function<void()> work) {
    auto timed = std::make_shared<Timed>();
    timed->handle = std::make_shared<Cancellable>();
    timed->work = std::move(work);
    auto handle = timed->handle;
    {
        std::lock_guard lock(state_->mutex);
        state_->timed.emplace(std::make_pair(now() + (delay > 0 ? delay : 0), state_->sequence++),
                              std::move(timed));
        state_->wake.notify_one();
    }
    return handle;
}

std::shared_ptr<RepeatingTimer> ThreadQueue::scheduleTimer(Seconds firstDeadline, Seconds interval,
                                                           std::function<void()> handler) {
    auto timed = std::make_shared<Timed>();
    timed->handle = std::make_shared<Cancellable>();
    timed->work = std::move(handler);
    timed->interval = interval > 0 ? interval : 1e-3;
    auto handle = timed->handle;
    {
        std::lock_guard lock(state_->mutex);
        state_->timed.emplace(std::make_pair(firstDeadline, state_->sequence++), std::move(timed));
        state_->wake.notify_one();
    }
    return handle;
}

void ThreadQueue::run(const SerialQueue* queue, const std::shared_ptr<State>& state) {
    RunningScope scope(queue);
    const Clock& clock = SteadyClock::shared();
    std::unique_lock lock(state->mutex);
    while (!state->stopping) {
        if (!state->ready.empty()) {
            auto work = std::move(state->ready.front());
            state->ready.pop_front();
            lock.unlock();
            work();
            lock.lock();
            continue;
        }
        if (!state->timed.empty()) {
            auto first = state->timed.begin();
            const Seconds deadline = first->first.first;
            if (first->second->handle->isCancelled()) {
                state->timed.erase(first);
                continue;
            }
            if (clock.now() >= deadline) {
                auto timed = std::move(first->second);
                state->timed.erase(first);
                if (timed->interval > 0) {
                    // Fixed rate: the next deadline follows the last one; ticks missed while
                    // the queue was busy are dropped rather than fired back to back.
                    Seconds next = deadline + timed->interval;
                    const Seconds current = clock.now();
                    while (next <= current) {
                        next += timed->interval;
                    }
                    state->timed.emplace(std::make_pair(next, state->sequence++), timed);
                }
                lock.unlock();
                if (!timed->handle->isCancelled()) {
                    timed->work();
                }
                lock.lock();
                continue;
            }
            state->wake.wait_until(lock, toTimePoint(deadline));
            continue;
        }
        state->wake.wait(lock);
    }
}

} // namespace brindell
