#include "queue/DeterministicQueue.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace brindell {
namespace {

TEST(DeterministicQueue, NothingRunsUntilAsked) {
    DeterministicScheduler scheduler;
    auto queue = scheduler.makeQueue("q");
    int runs = 0;
    queue->async([&] { ++runs; });
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(scheduler.runPending(), 1u);
    EXPECT_EQ(runs, 1);
}

TEST(DeterministicQueue, RunsInSubmissionOrderAcrossQueuesIncludingWorkQueuedMeanwhile) {
    DeterministicScheduler scheduler;
    auto a = scheduler.makeQueue("a");
    auto b = scheduler.makeQueue("b");
    std::vector<std::string> order;
    a->async([&] {
        order.push_back("a1");
        b->async([&] { order.push_back("b2"); });
    });
    b->async([&] { order.push_back("b1"); });
    scheduler.runPending();
    EXPECT_EQ(order, (std::vector<std::string>{"a1", "b1", "b2"}));
}

TEST(DeterministicQueue, IsCurrentOnlyInsideItsOwnWork) {
    DeterministicScheduler scheduler;
    auto a = scheduler.makeQueue("a");
    auto b = scheduler.makeQueue("b");
    bool onA = false;
    bool onB = true;
    a->async([&] {
        onA = a->isCurrent();
        onB = b->isCurrent();
    });
    scheduler.runPending();
    EXPECT_TRUE(onA);
    EXPECT_FALSE(onB);
    EXPECT_FALSE(a->isCurrent());
}

TEST(DeterministicQueue, SyncRunsEarlierWorkFirstAndRefusesFromItsOwnQueue) {
    DeterministicScheduler scheduler;
    auto q = scheduler.makeQueue("q");
    std::vector<int> order;
    q->async([&] { order.push_back(1); });
    EXPECT_TRUE(q->sync([&] { order.push_back(2); }));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));

    bool refused = false;
    bool ran = false;
    q->async([&] { refused = !q->sync([&] { ran = true; }); });
    scheduler.runPending();
    EXPECT_TRUE(refused);
    EXPECT_FALSE(ran);
}

TEST(DeterministicQueue, DelayedWorkFiresAtItsDeadlineAndCanBeCancelled) {
    DeterministicScheduler scheduler(0.0);
    auto q = scheduler.makeQueue("q");
    std::vector<double> firedAt;
    q->asyncAfter(0.5, [&] { firedAt.push_back(scheduler.now()); });
    auto cancelled = q->asyncAfter(0.2, [&] { firedAt.push_back(-1); });
    q->asyncAfter(0.1, [&] { firedAt.push_back(scheduler.now()); });
    cancelled->cancel();
    scheduler.advance(0.3);
    EXPECT_EQ(firedAt, (std::vector<double>{0.1}));
    EXPECT_DOUBLE_EQ(scheduler.now(), 0.3);
    scheduler.advance(0.3);
    EXPECT_EQ(firedAt, (std::vector<double>{0.1, 0.5}));
    EXPECT_EQ(scheduler.timedCount(), 0u);
}

TEST(DeterministicQueue, TimersAndDelayedItemsFireInDeadlineOrder) {
    DeterministicScheduler scheduler(0.0);
    auto q = scheduler.makeQueue("q");
    auto other = scheduler.makeQueue("other");
    std::vector<std::string> log;
    auto timer =
        q->scheduleTimer(0.25, 0.25, [&] { log.push_back("t" + std::to_string(scheduler.now())); });
    other->asyncAfter(0.3, [&] {
        log.push_back("d");
        q->async([&] { log.push_back("queued by d"); });
    });
    scheduler.advance(0.6);
    EXPECT_EQ(log, (std::vector<std::string>{"t0.250000", "d", "queued by d", "t0.500000"}));
    timer->cancel();
    scheduler.advance(10);
    EXPECT_EQ(log.size(), 4u);
}

TEST(DeterministicQueue, TimerFiresOncePerIntervalOverLongAdvances) {
    DeterministicScheduler scheduler(0.0);
    auto q = scheduler.makeQueue("q");
    int ticks = 0;
    auto timer = q->scheduleTimer(0.5, 0.5, [&] { ++ticks; });
    scheduler.advance(10.0);
    EXPECT_EQ(ticks, 20);
    EXPECT_TRUE(scheduler.advanceToNextDeadline());
    EXPECT_EQ(ticks, 21);
    EXPECT_DOUBLE_EQ(scheduler.now(), 10.5);
}

TEST(DeterministicQueue, TimerCancelledFromItsOwnHandlerStops) {
    DeterministicScheduler scheduler(0.0);
    auto q = scheduler.makeQueue("q");
    int ticks = 0;
    std::shared_ptr<RepeatingTimer> timer;
    timer = q->scheduleTimer(1.0, 1.0, [&] {
        if (++ticks == 3) {
            timer->cancel();
        }
    });
    scheduler.advance(100);
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(scheduler.advanceToNextDeadline());
}

TEST(DeterministicQueue, DestroyedQueueDropsItsWork) {
    DeterministicScheduler scheduler(0.0);
    auto q = scheduler.makeQueue("q");
    int runs = 0;
    q->async([&] { ++runs; });
    q->asyncAfter(1, [&] { ++runs; });
    q.reset();
    scheduler.advance(5);
    EXPECT_EQ(runs, 0);
}

TEST(DeterministicQueue, RunawayWorkIsReportedNotHung) {
    DeterministicScheduler scheduler;
    auto q = scheduler.makeQueue("q");
    std::function<void()> again = [&] { q->async(again); };
    q->async(again);
    EXPECT_THROW(scheduler.runPending(), std::runtime_error);
}

} // namespace
} // namespace brindell
