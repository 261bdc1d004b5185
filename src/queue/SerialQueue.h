#pragma once

#include "queue/Clock.h"

#include <functional>
#include <memory>
#include <string>

namespace brindell {

// A delayed piece of work that can be cancelled until it starts. Thread-safe.
class WorkItem {
public:
    virtual ~WorkItem() = default;
    virtual void cancel() = 0;
    virtual bool isCancelled() const = 0;
};

// A repeating timer on a queue: fires at its first deadline, then every interval, with zero
// leeway, until cancelled. Dropping the handle does not cancel it. Thread-safe.
class RepeatingTimer {
public:
    virtual ~RepeatingTimer() = default;
    virtual void cancel() = 0;
    virtual bool isCancelled() const = 0;
};

// A serial queue: work submitted to it runs one piece at a time, in submission order, never
// concurrently with other work of the same queue. All operations may be called from any thread.
class SerialQueue {
public:
    virtual ~SerialQueue() = default;

    virtual const std::string& label() const = 0;
    virtual const Clock& clock() const = 0;
    Seconds now() const { return clock().now(); }

    virtual void async(std::function<void()> work) = 0;

    // Runs work on the queue and waits until it has run. Called from the queue itself it would
    // wait on itself forever, so it refuses: it runs nothing and returns false.
    virtual bool sync(std::function<void()> work) = 0;

    // Runs work once, delay seconds from now, unless the returned item is cancelled first.
    virtual std::shared_ptr<WorkItem> asyncAfter(Seconds delay, std::function<void()> work) = 0;

    // firstDeadline is a time on this queue's clock; interval must be positive.
    virtual std::shared_ptr<RepeatingTimer> scheduleTimer(Seconds firstDeadline, Seconds interval,
                                                          std::function<void()> handler) = 0;

    // True while the calling thread runs work of this queue.
    bool isCurrent() const { return current() == this; }

    // The queue whose work the calling thread is running, if any.
    static const SerialQueue* current();

protected:
    // Implementations wrap every piece of work they run in this scope.
    class RunningScope {
    public:
        explicit RunningScope(const SerialQueue* queue);
        ~RunningScope();
        RunningScope(const RunningScope&) = delete;
        RunningScope& operator=(const RunningScope&) = delete;

    private:
        const SerialQueue* previous_;
    };
};

} // namespace brindell
