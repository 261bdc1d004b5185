#include "queue/DeterministicQueue.h"
#include "queue/ThreadQueue.h"
#include "support/TestSupport.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brindell {
namespace {

// What every queue promises its users, checked on the threaded queue and on the deterministic
// one the other unit tests run on: the same body, with time passing as each queue lets it.
struct QueueRig {
    virtual ~QueueRig() = default;
    virtual std::shared_ptr<SerialQueue> make() = 0;
    // Lets that much time go by, running what falls due.
    virtual void pass(Seconds seconds) = 0;
    virtual bool eventually(const std::function<bool()>& condition) = 0;
};

void checkSerialQueue(QueueRig& rig) {
    auto q = rig.make();
    std::mutex mutex;
    std::vector<std::string> log;
    const auto note = [&](std::string entry) {
        const std::lock_guard lock(mutex);
        log.push_back(std::move(entry));
    };

    // Submission order, work queued from work after it, and isCurrent only inside.
    std::atomic<bool> current{false};
    std::atomic<bool> secondQueued{false};
    q->async([&] {
        // "3" is queued from here, so after "2" only once "2" is in the queue.
        while (!secondQueued) {
            std::this_thread::yield();
        }
        note("1");
        current = q->isCurrent();
        q->async([&] { note("3"); });
    });
    q->async([&] { note("2"); });
    secondQueued = true;
    EXPECT_FALSE(q->isCurrent());
    ASSERT_TRUE(rig.eventually([&] {
        const std::lock_guard lock(mutex);
        return log.size() == 3;
    }));
    ASSERT_TRUE(q->sync([&] { note("sync"); }));
    {
        const std::lock_guard lock(mutex);
        EXPECT_EQ(log, (std::vector<std::string>{"1", "2", "3", "sync"}));
    }
    EXPECT_TRUE(current);

    // sync from the queue itself refuses instead of waiting on itself.
    std::atomic<int> refused{-1};
    q->async([&] { refused = q->sync([] {}) ? 0 : 1; });
    ASSERT_TRUE(rig.eventually([&] { return refused.load() != -1; }));
    EXPECT_EQ(refused, 1);

    // Delayed work fires no earlier than its delay; a cancelled item never.
    const Seconds start = q->now();
    std::atomic<double> firedAt{-1};
    std::atomic<bool> cancelledFired{false};
    q->asyncAfter(0.05, [&] { firedAt = q->now(); });
    const auto item = q->asyncAfter(0.02, [&] { cancelledFired = true; });
    item->cancel();
    ASSERT_TRUE(rig.eventually([&] { return firedAt.load() >= 0; }));
    EXPECT_GE(firedAt.load() - start, 0.05);
    EXPECT_FALSE(cancelledFired);
    EXPECT_TRUE(item->isCancelled());

    // A timer repeats until cancelled, from its own handler too.
    std::atomic<int> ticks{0};
    std::shared_ptr<RepeatingTimer> timer;
    ASSERT_TRUE(q->sync([&] {
        timer = q->scheduleTimer(q->now() + 0.01, 0.01, [&] {
            if (++ticks == 3) {
                timer->cancel();
            }
        });
    }));
    ASSERT_TRUE(rig.eventually([&] { return ticks.load() >= 3; }));
    rig.pass(0.05);
    EXPECT_EQ(ticks, 3);

    // A queue that goes drops what it still holds.
    std::atomic<int> runs{0};
    q->asyncAfter(0.02, [&] { ++runs; });
    q.reset();
    rig.pass(0.05);
    EXPECT_EQ(runs, 0);
}

TEST(SerialQueueContract, ThreadQueue) {
    struct : QueueRig {
        std::shared_ptr<SerialQueue> make() override {
            return std::make_shared<ThreadQueue>("contract");
        }
        void pass(Seconds seconds) override {
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        }
        bool eventually(const std::function<bool()>& condition) override {
            return testing::waitUntil(condition, std::chrono::seconds(10),
                                      std::chrono::milliseconds(5));
        }
    } rig;
    checkSerialQueue(rig);
}

TEST(SerialQueueContract, DeterministicQueue) {
    struct : QueueRig {
        DeterministicScheduler scheduler{0.0};
        std::shared_ptr<SerialQueue> make() override { return scheduler.makeQueue("contract"); }
        void pass(Seconds seconds) override {
            scheduler.runPending();
            scheduler.advance(seconds);
        }
        bool eventually(const std::function<bool()>& condition) override {
            for (int step = 0; step < 1000 && !condition(); ++step) {
                pass(0.01);
            }
            return condition();
        }
    } rig;
    checkSerialQueue(rig);
}

// The deterministic queue's own promises the other tests lean on: nothing runs until asked,
// deadlines fire in order across queues, long advances tick once per interval, and work that
// keeps queueing itself is reported rather than hanging the test.
TEST(DeterministicQueue, RunsOnlyWhenAskedInDeadlineOrderAcrossQueues) {
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
    q->async([&] { log.push_back("now"); });
    EXPECT_TRUE(log.empty());
    scheduler.advance(0.6);
    EXPECT_EQ(log, (std::vector<std::string>{"now", "t0.250000", "d", "queued by d", "t0.500000"}));
    scheduler.advance(0.4);
    scheduler.advance(9.0);
    EXPECT_EQ(log.size(), 43u); // one tick per interval over a long advance
    EXPECT_TRUE(scheduler.advanceToNextDeadline());
    EXPECT_DOUBLE_EQ(scheduler.now(), 10.25);
    timer->cancel();
    EXPECT_FALSE(scheduler.advanceToNextDeadline());

    std::function<void()> again = [&] { q->async(again); };
    q->async(again);
    EXPECT_THROW(scheduler.runPending(), std::runtime_error);
}

} // namespace
} // namespace brindell
