#include "permission/PermissionMonitor.h"

#include <gtest/gtest.h>
#include <limits>

namespace brindell {
namespace {

constexpr pid_type a = 410;
constexpr Seconds t0 = 100.0;
constexpr Seconds never = std::numeric_limits<Seconds>::infinity();

SessionSnapshot tapped(pid_type pid, std::int64_t buffers, std::int64_t nonzero) {
    SessionSnapshot s;
    s.pid = pid;
    s.state = TapSessionState::starting();
    s.buffersSeen = buffers;
    s.nonzeroBuffers = nonzero;
    return s;
}

// As the engine runs it: silence is never evidence, a refused operation is.
class PermissionMonitorTest : public ::testing::Test {
protected:
    PermissionMonitor monitor{never, {-1, -13}};

    PermissionState observe(std::vector<SessionSnapshot> snapshots, std::set<pid_type> active,
                            Seconds at, std::int64_t confirmations = 0) {
        monitor.observe(snapshots, active, confirmations, at);
        return monitor.state();
    }
};

TEST_F(PermissionMonitorTest, OnlyARefusedOperationIsTheVerdict) {
    observe({tapped(a, 4, 0)}, {a}, t0);
    EXPECT_EQ(observe({tapped(a, 4000, 0)}, {a}, t0 + 3600), PermissionState::unknown)
        << "an hour of silence proves nothing";

    EXPECT_FALSE(monitor.noteFailure(AudioHardwareError::status("link", -5)));
    EXPECT_FALSE(monitor.noteFailure(AudioHardwareError::noSuchObject()));
    EXPECT_EQ(monitor.state(), PermissionState::unknown);
    EXPECT_TRUE(monitor.noteFailure(AudioHardwareError::status("link", -13)));
    EXPECT_EQ(monitor.state(), PermissionState::likelyDenied);

    // A monitor without refusal statuses ignores failures.
    PermissionMonitor plain{never};
    EXPECT_FALSE(plain.noteFailure(AudioHardwareError::status("link", -13)));
    EXPECT_EQ(plain.state(), PermissionState::unknown);
}

TEST_F(PermissionMonitorTest, ANonSilentBufferOrAConfirmationGrantsEvenAfterADenial) {
    observe({tapped(a, 4, 0)}, {a}, t0);
    monitor.noteFailure(AudioHardwareError::status("link", -1));
    ASSERT_EQ(monitor.state(), PermissionState::likelyDenied);
    EXPECT_EQ(observe({tapped(a, 91, 1)}, {a}, t0 + 9.5), PermissionState::granted);

    // A confirmation counted since the last look is proof enough, without any session.
    PermissionMonitor confirmed{never};
    confirmed.observe({}, {}, 0, t0);
    EXPECT_EQ(confirmed.state(), PermissionState::unknown);
    confirmed.observe({}, {}, 1, t0 + 0.5);
    EXPECT_EQ(confirmed.state(), PermissionState::granted);
    EXPECT_EQ(confirmed.lastConfirmations(), 1);

    // Forgetting the verdict keeps the count: the same count again is no new proof.
    confirmed.forgetVerdict();
    EXPECT_EQ(confirmed.state(), PermissionState::unknown);
    confirmed.observe({}, {}, 1, t0 + 1);
    EXPECT_EQ(confirmed.state(), PermissionState::unknown);
    EXPECT_EQ(confirmed.lastConfirmations(), 1);
}

} // namespace
} // namespace brindell
