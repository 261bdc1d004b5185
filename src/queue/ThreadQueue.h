#pragma once

#include "queue/SerialQueue.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace brindell {

// A serial queue backed by one thread of its own, timed on the steady clock.
// Destruction stops the thread; work still pending then is dropped unrun.
class ThreadQueue final : public SerialQueue {
public:
    explicit ThreadQueue(std::string label);
    ~ThreadQueue() override;
    ThreadQueue(const ThreadQueue&) = delete;
    ThreadQueue& operator=(const ThreadQueue&) = delete;

    const std::string& label() const override { return label_; }
    const Clock& clock() const override { return SteadyClock::shared(); }
    void async(std::function<void()> work) override;
    bool sync(std::function<void()> work) override;
    std::shared_ptr<WorkItem> asyncAfter(Seconds delay, std::function<void()> work) override;
    std::shared_ptr<RepeatingTimer> scheduleTimer(Seconds firstDeadline, Seconds interval,
                                                  std::function<void()> handler) override;

private:
    struct Timed;
    // What the thread works on. Shared with the thread, so a queue destroyed from its own work
    // (the thread is then detached) leaves the thread valid state to finish on.
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<std::function<void()>> ready;
        // Keyed by (deadline, sequence) so equal deadlines keep submission order.
        std::map<std::pair<Seconds, std::uint64_t>, std::shared_ptr<Timed>> timed;
        std::uint64_t sequence = 0;
        bool stopping = false;
    };
    static void run(const SerialQueue* queue, const std::shared_ptr<State>& state);

    const std::string label_;
    const std::shared_ptr<State> state_ = std::make_shared<State>();
    std::thread thread_;
};

} // namespace brindell
