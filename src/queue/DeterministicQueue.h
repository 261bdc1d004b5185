#pragma once

#include "queue/SerialQueue.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

namespace brindell {

class DeterministicQueue;

// Virtual time and the work of every queue made from it, for tests. Nothing runs until the
// test asks: runPending() runs work that is due, advance() moves the clock and fires timers
// and delayed items in deadline order. Single-threaded: use it from the test's thread only.
class DeterministicScheduler final : public Clock {
public:
    explicit DeterministicScheduler(Seconds start = 1000.0);
    ~DeterministicScheduler() override;
    DeterministicScheduler(const DeterministicScheduler&) = delete;
    DeterministicScheduler& operator=(const DeterministicScheduler&) = delete;

    Seconds now() const override { return now_; }

    std::shared_ptr<DeterministicQueue> makeQueue(std::string label);

    // Runs queued work of all queues, in submission order, until none is left (work queued
    // meanwhile runs too). Does not move the clock. Returns the number of pieces run.
    std::size_t runPending();

    // Moves the clock forward by delta, stopping at every deadline on the way to fire what is
    // due there (and the work it queues), in deadline order. Returns the pieces run.
    std::size_t advance(Seconds delta);

    // Moves the clock to the next deadline, if any, and runs what is due. False when nothing is
    // scheduled.
    bool advanceToNextDeadline();

    // Work ready to run now, and live timed entries (delayed items and timers).
    std::size_t readyCount() const { return ready_.size(); }
    std::size_t timedCount() const;

private:
    friend class DeterministicQueue;
    struct Entry {
        DeterministicQueue* queue;
        std::function<void()> work;
    };
    struct Timed;

    void enqueue(DeterministicQueue* queue, std::function<void()> work);
    void schedule(DeterministicQueue* queue, Seconds deadline, std::shared_ptr<Timed> timed);
    void forget(DeterministicQueue* queue);
    std::size_t fireDue();

    Seconds now_;
    std::uint64_t sequence_ = 0;
    std::deque<Entry> ready_;
    std::map<std::pair<Seconds, std::uint64_t>,
             std::pair<DeterministicQueue*, std::shared_ptr<Timed>>>
        timed_;
};

// A serial queue of a DeterministicScheduler. Must not outlive its scheduler.
class DeterministicQueue final : public SerialQueue {
public:
    DeterministicQueue(DeterministicScheduler& scheduler, std::string label);
    ~DeterministicQueue() override;
    DeterministicQueue(const DeterministicQueue&) = delete;
    DeterministicQueue& operator=(const DeterministicQueue&) = delete;

    const std::string& label() const override { return label_; }
    const Clock& clock() const override { return scheduler_; }
    void async(std::function<void()> work) override;
    // Runs the work that is already queued on this queue (and what it queues there), then work,
    // at once on the calling thread, as a serial queue would order them.
    bool sync(std::function<void()> work) override;
    std::shared_ptr<WorkItem> asyncAfter(Seconds delay, std::function<void()> work) override;
    std::shared_ptr<RepeatingTimer> scheduleTimer(Seconds firstDeadline, Seconds interval,
                                                  std::function<void()> handler) override;

    DeterministicScheduler& scheduler() { return scheduler_; }

private:
    friend class DeterministicScheduler;
    void runInScope(const std::function<void()>& work);

    DeterministicScheduler& scheduler_;
    const std::string label_;
};

} // namespace brindell
