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
    void run();

    const std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> ready_;
    // Keyed by (deadline, sequence) so equal deadlines keep submission order.
    std::map<std::pair<Seconds, std::uint64_t>, std::shared_ptr<Timed>> timed_;
    std::uint64_t sequence_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace brindell
