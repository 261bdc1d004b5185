#include "control/ChangeThrottle.h"

#include "queue/DeterministicQueue.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

class ChangeThrottleTest : public ::testing::Test {
protected:
    DeterministicScheduler scheduler{0.0};
    std::shared_ptr<DeterministicQueue> queue = scheduler.makeQueue("main");
    std::vector<Seconds> emissions;
    std::unique_ptr<ChangeThrottle> throttle = std::make_unique<ChangeThrottle>(
        queue, 0.05, [this] { emissions.push_back(scheduler.now()); });
};

TEST_F(ChangeThrottleTest, AChangeAfterAQuietIntervalIsEmittedOnTheNextTurnNotDuringIt) {
    throttle->changed();
    EXPECT_TRUE(emissions.empty());
    scheduler.advance(0.0);
    EXPECT_EQ(emissions, std::vector<Seconds>{0.0});
    // Nor is a change after a quiet interval delayed.
    scheduler.advance(0.5);
    throttle->changed();
    scheduler.advance(0.0);
    EXPECT_EQ(emissions, (std::vector<Seconds>{0.0, 0.5}));
}

TEST_F(ChangeThrottleTest, ChangesWithinTheIntervalGetOneTrailingEmission) {
    throttle->changed();
    scheduler.advance(0.0);
    scheduler.advance(0.01);
    throttle->changed();
    scheduler.advance(0.01);
    throttle->changed();
    scheduler.advance(0.01);
    ASSERT_EQ(emissions.size(), 1u);
    scheduler.advance(0.1);
    ASSERT_EQ(emissions.size(), 2u);
    EXPECT_DOUBLE_EQ(emissions[1], 0.05);
}

TEST_F(ChangeThrottleTest, ContinuousChangesStayAtTwentyPerSecond) {
    // A change every 5 ms for two seconds.
    for (int i = 0; i < 400; ++i) {
        throttle->changed();
        scheduler.advance(0.005);
    }
    scheduler.advance(1.0);
    EXPECT_GE(emissions.size(), 38u);
    EXPECT_LE(emissions.size(), 41u);
    for (std::size_t i = 1; i < emissions.size(); ++i) {
        EXPECT_GE(emissions[i] - emissions[i - 1], 0.05 - 1e-9);
    }
}

TEST_F(ChangeThrottleTest, DestroyingItDropsThePendingEmission) {
    throttle->changed();
    EXPECT_TRUE(throttle->isPending());
    throttle.reset();
    scheduler.advance(1.0);
    EXPECT_TRUE(emissions.empty());
}

} // namespace
} // namespace brindell
