#include "queue/DeterministicQueue.h"

#include <algorithm>
#include <stdexcept>

namespace brindell {

namespace {

class Cancellable final : public WorkItem, public RepeatingTimer {
public:
    void cancel() override { cancelled_ = true; }
    bool isCancelled() const override { return cancelled_; }

private:
    bool cancelled_ = false;
};

// Work that queues itself forever would hang a test; fail it instead.
constexpr std::size_t maxRunsPerCall = 1'000'000;

} // namespace

struct DeterministicScheduler::Timed {
    std::shared_ptr<Cancellable> handle;
    std::function<void()> work;
    Seconds interval = 0; // 0: runs once
};

DeterministicScheduler::DeterministicScheduler(Seconds start) : now_(start) {}

DeterministicScheduler::~DeterministicScheduler() = default;

std::shared_ptr<DeterministicQueue> DeterministicScheduler::makeQueue(std::string label) {
    return std::make_shared<DeterministicQueue>(*this, std::move(label));
}

std::size_t DeterministicScheduler::timedCount() const {
    return static_cast<std::size_t>(std::count_if(timed_.begin(), timed_.end(), [](const auto& e) {
        return !e.second.second->handle->isCancelled();
    }));
}

void DeterministicScheduler::enqueue(DeterministicQueue* queue, std::function<void()> work) {
    ready_.push_back(Entry{queue, std::move(work)});
}

void DeterministicScheduler::schedule(DeterministicQueue* queue, Seconds deadline,
                                      std::shared_ptr<Timed> timed) {
    timed_.emplace(std::make_pair(deadline, sequence_++), std::make_pair(queue, std::move(timed)));
}

void DeterministicScheduler::forget(DeterministicQueue* queue) {
    std::erase_if(ready_, [queue](const Entry& e) { return e.queue == queue; });
    std::erase_if(timed_, [queue](const auto& e) { return e.second.first == queue; });
}

std::size_t DeterministicScheduler::runPending() {
    std::size_t runs = 0;
    while (!ready_.empty()) {
        if (++runs > maxRunsPerCall) {
            throw std::runtime_error("DeterministicScheduler: work keeps queueing more work");
        }
        Entry entry = std::move(ready_.front());
        ready_.pop_front();
        entry.queue->runInScope(entry.work);
    }
    return runs;
}

std::size_t DeterministicScheduler::fireDue() {
    std::size_t runs = runPending();
    while (!timed_.empty() && timed_.begin()->first.first <= now_) {
        auto first = timed_.begin();
        const Seconds deadline = first->first.first;
        auto [queue, timed] = std::move(first->second);
        timed_.erase(first);
        if (timed->handle->isCancelled()) {
            continue;
        }
        if (timed->interval > 0) {
            schedule(queue, deadline + timed->interval, timed);
        }
        queue->runInScope(timed->work);
        runs += 1 + runPending();
    }
    return runs;
}

std::size_t DeterministicScheduler::advance(Seconds delta) {
    const Seconds target = now_ + std::max(delta, 0.0);
    std::size_t runs = runPending();
    while (!timed_.empty() && timed_.begin()->first.first <= target) {
        now_ = std::max(now_, timed_.begin()->first.first);
        runs += fireDue();
    }
    now_ = target;
    return runs + fireDue();
}

bool DeterministicScheduler::advanceToNextDeadline() {
    runPending();
    std::erase_if(timed_, [](const auto& e) { return e.second.second->handle->isCancelled(); });
    if (timed_.empty()) {
        return false;
    }
    now_ = std::max(now_, timed_.begin()->first.first);
    fireDue();
    return true;
}

DeterministicQueue::DeterministicQueue(DeterministicScheduler& scheduler, std::string label)
    : scheduler_(scheduler), label_(std::move(label)) {}

DeterministicQueue::~DeterministicQueue() {
    scheduler_.forget(this);
}

void DeterministicQueue::runInScope(const std::function<void()>& work) {
    RunningScope scope(this);
    work();
}

void DeterministicQueue::async(std::function<void()> work) {
    scheduler_.enqueue(this, std::move(work));
}

bool DeterministicQueue::sync(std::function<void()> work) {
    if (isCurrent()) {
        return false;
    }
    // Work queued earlier on this queue runs first, as on a real serial queue.
    for (;;) {
        auto it = std::find_if(scheduler_.ready_.begin(), scheduler_.ready_.end(),
                               [this](const auto& e) { return e.queue == this; });
        if (it == scheduler_.ready_.end()) {
            break;
        }
        auto earlier = std::move(it->work);
        scheduler_.ready_.erase(it);
        runInScope(earlier);
    }
    runInScope(work);
    return true;
}

std::shared_ptr<WorkItem> DeterministicQueue::asyncAfter(Seconds delay,
                                                         std::function<void()> work) {
    auto timed = std::make_shared<DeterministicScheduler::Timed>();
    timed->handle = std::make_shared<Cancellable>();
    timed->work = std::move(work);
    auto handle = timed->handle;
    scheduler_.schedule(this, scheduler_.now() + std::max(delay, 0.0), std::move(timed));
    return handle;
}

std::shared_ptr<RepeatingTimer> DeterministicQueue::scheduleTimer(Seconds firstDeadline,
                                                                  Seconds interval,
                                                                  std::function<void()> handler) {
    auto timed = std::make_shared<DeterministicScheduler::Timed>();
    timed->handle = std::make_shared<Cancellable>();
    timed->work = std::move(handler);
    timed->interval = interval > 0 ? interval : 1e-3;
    auto handle = timed->handle;
    scheduler_.schedule(this, firstDeadline, std::move(timed));
    return handle;
}

} // namespace brindell
