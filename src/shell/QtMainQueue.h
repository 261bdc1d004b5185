#pragma once

#include "queue/SerialQueue.h"

#include <QObject>
#include <memory>

namespace brindell {

// The main thread's serial queue: work runs on the Qt event loop, in submission order, between
// other events. Create it on the main thread once the application object exists; it must be
// destroyed there too. Work still pending when it is destroyed is dropped unrun.
//
// Everything on the main thread counts as being on this queue, so sync() called there refuses
// (returns false) even outside work submitted here.
class QtMainQueue final : public SerialQueue {
public:
    explicit QtMainQueue(std::string label = "main");
    ~QtMainQueue() override;
    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    const std::string& label() const override { return label_; }
    const Clock& clock() const override { return SteadyClock::shared(); }
    void async(std::function<void()> work) override;
    bool sync(std::function<void()> work) override;
    std::shared_ptr<WorkItem> asyncAfter(Seconds delay, std::function<void()> work) override;
    std::shared_ptr<RepeatingTimer> scheduleTimer(Seconds firstDeadline, Seconds interval,
                                                  std::function<void()> handler) override;

private:
    void run(const std::function<void()>& work);
    // Runs work at the deadline (a time on the steady clock), on the main thread.
    void at(Seconds deadline, std::function<void()> work);

    const std::string label_;
    // Receives the queued calls; deleting it drops those still pending.
    std::unique_ptr<QObject> context_;
};

} // namespace brindell
