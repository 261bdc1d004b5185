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

bool onMainThread() {
    return QThread::currentThread() == qApp->thread();
}

TEST(QtMainQueue, RunsWorkFromAnyThreadInOrderOnTheMainThreadAndSyncWaitsOnlyFromOthers) {
    QtMainQueue queue;
    std::vector<int> order;
    bool current = false;
    queue.async([&] { order.push_back(1); });
    queue.async([&] {
        order.push_back(2);
        current = queue.isCurrent() && onMainThread();
    });
    std::thread worker([&] {
        for (int i = 3; i < 100; ++i) {
            queue.async([&order, i] { order.push_back(i); });
        }
    });
    worker.join();
    EXPECT_TRUE(order.empty()) << "later, not at once";
    ASSERT_TRUE(waitFor([&] { return order.size() == 99; }));
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(order[i], static_cast<int>(i) + 1);
    }
    EXPECT_TRUE(current);

    // sync on the main thread would wait on itself; from another thread it returns after the
    // work ran there.
    bool ran = false;
    EXPECT_FALSE(queue.sync([&] { ran = true; }));
    EXPECT_FALSE(ran);
    std::atomic<bool> done{false};
    std::atomic<bool> onMain{false};
    std::atomic<bool> accepted{false};
    std::thread other([&] {
        accepted = queue.sync([&] { onMain = onMainThread(); });
        done = true;
    });
    ASSERT_TRUE(waitFor([&] { return done.load(); }));
    other.join();
    EXPECT_TRUE(accepted);
    EXPECT_TRUE(onMain);
}

TEST(QtMainQueue, DelayedWorkAndTimersRunUntilCancelledAndPendingWorkGoesWithTheQueue) {
    bool droppedRan = false;
    {
        QtMainQueue queue;
        const Seconds start = queue.now();
        Seconds ranAt = 0;
        bool cancelledRan = false;
        queue.asyncAfter(0.05, [&] { ranAt = queue.now(); });
        auto cancelled = queue.asyncAfter(0.01, [&] { cancelledRan = true; });
        cancelled->cancel();
        // A timer repeats even without its handle.
        int ticks = 0;
        std::weak_ptr<RepeatingTimer> timer =
            queue.scheduleTimer(queue.now() + 0.01, 0.01, [&] { ++ticks; });
        ASSERT_TRUE(waitFor([&] { return ranAt > 0 && ticks >= 3; }));
        EXPECT_GE(ranAt - start, 0.045);
        EXPECT_FALSE(cancelledRan);
        ASSERT_FALSE(timer.expired());
        timer.lock()->cancel();
        const int atCancel = ticks;
        const Seconds until = queue.now() + 0.05;
        waitFor([&] { return queue.now() > until; });
        EXPECT_LE(ticks, atCancel + 1) << "at most a firing already on its way";

        queue.async([&] { droppedRan = true; });
        queue.asyncAfter(0.0, [&] { droppedRan = true; });
    }
    testing::settle();
    EXPECT_FALSE(droppedRan);
}

} // namespace
} // namespace brindell
