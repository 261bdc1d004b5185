#include "queue/ThreadQueue.h"

#include "support/TestSupport.h"

#include <atomic>
#include <gtest/gtest.h>
#include <vector>

namespace brindell {
namespace {

using testing::waitUntil;

TEST(ThreadQueue, RunsWorkSeriallyInOrderFromManyThreads) {
    ThreadQueue queue("test.serial");
    std::vector<int> seen; // touched only on the queue: TSan checks that claim
    std::atomic<int> concurrent{0};
    std::atomic<bool> overlap{false};
    std::vector<std::thread> producers;
    for (int p = 0; p < 4; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < 250; ++i) {
                queue.async([&, p, i] {
                    if (concurrent.fetch_add(1) != 0) {
                        overlap = true;
                    }
                    seen.push_back(p * 1000 + i);
                    concurrent.fetch_sub(1);
                });
            }
        });
    }
    for (auto& t : producers) {
        t.join();
    }
    std::size_t count = 0;
    ASSERT_TRUE(queue.sync([&] { count = seen.size(); }));
    EXPECT_EQ(count, 1000u);
    EXPECT_FALSE(overlap);
    // Each producer's work ran in its own submission order.
    queue.sync([&] {
        std::vector<int> last(4, -1);
        for (int v : seen) {
            EXPECT_GT(v % 1000, last[static_cast<std::size_t>(v / 1000)]);
            last[static_cast<std::size_t>(v / 1000)] = v % 1000;
        }
    });
}

TEST(ThreadQueue, ImmediateWorkIsNotStarvedByADueTimer) {
    ThreadQueue queue("test.fair");
    std::atomic<int> ticks{0};
    auto timer = queue.scheduleTimer(queue.now(), 0.001, [&] { ++ticks; });
    std::atomic<bool> ran{false};
    queue.async([&] { ran = true; });
    EXPECT_TRUE(waitUntil([&] { return ran.load(); }));
    timer->cancel();
}

TEST(ThreadQueue, DestroyedFromItsOwnWorkFinishesSafely) {
    auto queue = std::make_shared<ThreadQueue>("test.self");
    std::atomic<bool> done{false};
    queue->async([&queue, &done] {
        queue.reset(); // the last owner lets go inside the queue's own work
        done = true;
    });
    // The detached thread winds down on state it shares; ASan and TSan watch that.
    ASSERT_TRUE(waitUntil([&] { return done.load(); }));
}

} // namespace
} // namespace brindell
