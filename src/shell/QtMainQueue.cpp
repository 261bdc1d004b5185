#include "shell/QtMainQueue.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cmath>

namespace brindell {

namespace {

class Cancellable final : public WorkItem, public RepeatingTimer {
public:
    void cancel() override { cancelled_.store(true); }
    bool isCancelled() const override { return cancelled_.load(); }

private:
    std::atomic<bool> cancelled_{false};
};

std::chrono::milliseconds untilDeadline(Seconds deadline) {
    const Seconds remaining = std::max(0.0, deadline - SteadyClock::shared().now());
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::ceil(remaining * 1000.0)));
}

} // namespace

QtMainQueue::QtMainQueue(std::string label)
    : label_(std::move(label)), context_(std::make_unique<QObject>()) {}

QtMainQueue::~QtMainQueue() = default;

void QtMainQueue::run(const std::function<void()>& work) {
    RunningScope scope(this);
    work();
}

void QtMainQueue::async(std::function<void()> work) {
    QMetaObject::invokeMethod(
        context_.get(), [this, work = std::move(work)] { run(work); }, Qt::QueuedConnection);
}

bool QtMainQueue::sync(std::function<void()> work) {
    if (QThread::currentThread() == context_->thread()) {
        return false; // it would wait for itself
    }
    QMetaObject::invokeMethod(
        context_.get(), [this, &work] { run(work); }, Qt::BlockingQueuedConnection);
    return true;
}

void QtMainQueue::at(Seconds deadline, std::function<void()> work) {
    // QTimer must be started on the thread that owns its receiver.
    async([this, deadline, work = std::move(work)] {
        QTimer::singleShot(untilDeadline(deadline), Qt::PreciseTimer, context_.get(),
                           [this, work] { run(work); });
    });
}

std::shared_ptr<WorkItem> QtMainQueue::asyncAfter(Seconds delay, std::function<void()> work) {
    auto item = std::make_shared<Cancellable>();
    at(now() + delay, [item, work = std::move(work)] {
        if (!item->isCancelled()) {
            work();
        }
    });
    return item;
}

std::shared_ptr<RepeatingTimer> QtMainQueue::scheduleTimer(Seconds firstDeadline, Seconds interval,
                                                           std::function<void()> handler) {
    auto timer = std::make_shared<Cancellable>();
    // Each firing schedules the next from its own deadline, so the period does not drift. The
    // chain holds the timer: it keeps running while its handle is dropped, until cancelled.
    struct Tick {
        QtMainQueue* queue;
        std::shared_ptr<Cancellable> timer;
        Seconds interval;
        std::function<void()> handler;
        void operator()(Seconds deadline) const {
            queue->at(deadline, [tick = *this, deadline] {
                if (tick.timer->isCancelled()) {
                    return;
                }
                tick.handler();
                tick(deadline + tick.interval);
            });
        }
    };
    Tick{this, timer, interval, std::move(handler)}(firstDeadline);
    return timer;
}

} // namespace brindell
