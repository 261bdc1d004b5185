#include "UiTestSupport.h"
#include "shell/QtMainQueue.h"

#include <QApplication>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace brindell {
namespace {

using testing::waitFor;

TEST(QtMainQueue, RunsWorkFromAnyThreadInOrderOnTheMainThreadLater) {
    QtMainQueue queue;
    std::vector<int> order;
    bool current = false;
    queue.async([&] { order.push_back(1); });
    queue.async([&] {
        order.push_back(2);
        current = queue.isCurrent() && QThread::currentThread() == qApp->thread();
    });
    // And from another thread, in submission order too.
    std::thread worker([&] {
        for (int i = 3; i < 100; ++i) {
            queue.async([&order, i] { order.push_back(i); });
        }
    });
    worker.join();
    EXPECT_TRUE(order.empty());
    ASSERT_TRUE(waitFor([&] { return order.size() == 99; }));
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(order[i], static_cast<int>(i) + 1);
    }
    EXPECT_TRUE(current);
}

TEST(QtMainQueue, SyncRefusesOnTheMainThreadAndWaitsFromOthers) {
    QtMainQueue queue;
    bool ran = false;
    EXPECT_FALSE(queue.sync([&] { ran = true; }));
    EXPECT_FALSE(ran);

    std::atomic<bool> done{false};
    std::atomic<bool> onMain{false};
    std::atomic<bool> accepted{false};
    std::thread worker([&] {
        accepted = queue.sync([&] { onMain = QThread::currentThread() == qApp->thread(); });
        done = true; // sync returned only after the work ran
    });
    ASSERT_TRUE(waitFor([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(accepted);
    EXPECT_TRUE(onMain);
}

TEST(QtMainQueue, DelayedWorkRunsAfterItsDelayUnlessCancelled) {
    QtMainQueue queue;
    const Seconds start = queue.now();
    Seconds ranAt = 0;
    bool cancelledRan = false;
    auto kept = queue.asyncAfter(0.05, [&] { ranAt = queue.now(); });
    auto cancelled = queue.asyncAfter(0.01, [&] { cancelledRan = true; });
    cancelled->cancel();
    EXPECT_TRUE(cancelled->isCancelled());
    ASSERT_TRUE(waitFor([&] { return ranAt > 0; }));
    EXPECT_GE(ranAt - start, 0.045);
    EXPECT_FALSE(cancelledRan);
    EXPECT_FALSE(kept->isCancelled());
}

TEST(QtMainQueue, TimersRepeatUntilCancelledEvenWithoutTheirHandle) {
    QtMainQueue queue;
    int ticks = 0;
    std::shared_ptr<RepeatingTimer> timer =
        queue.scheduleTimer(queue.now() + 0.01, 0.01, [&] { ++ticks; });
    std::weak_ptr<RepeatingTimer> weak = timer;
    timer.reset();
    ASSERT_TRUE(waitFor([&] { return ticks >= 3; }));
    ASSERT_FALSE(weak.expired());
    weak.lock()->cancel();
    const int atCancel = ticks;
    // Give a running timer three more periods to show it stopped.
    const Seconds until = queue.now() + 0.05;
    waitFor([&] { return queue.now() > until; });
    EXPECT_LE(ticks, atCancel + 1) << "at most a firing already on its way";
}

TEST(QtMainQueue, PendingWorkIsDroppedWithTheQueue) {
    bool ran = false;
    {
        QtMainQueue queue;
        queue.async([&] { ran = true; });
        queue.asyncAfter(0.0, [&] { ran = true; });
    }
    testing::settle();
    EXPECT_FALSE(ran);
}

} // namespace
} // namespace brindell
