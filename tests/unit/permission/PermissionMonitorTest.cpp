#include "permission/PermissionMonitor.h"

#include <gtest/gtest.h>
#include <limits>

namespace brindell {
namespace {

constexpr pid_type a = 410;
constexpr pid_type b = 420;
constexpr Seconds t0 = 100.0;

SessionSnapshot tapped(pid_type pid, std::int64_t buffers, std::int64_t nonzero) {
    SessionSnapshot s;
    s.pid = pid;
    s.state = TapSessionState::starting();
    s.buffersSeen = buffers;
    s.nonzeroBuffers = nonzero;
    return s;
}

class PermissionMonitorTest : public ::testing::Test {
protected:
    PermissionMonitor monitor{8.0};

    PermissionState observe(std::vector<SessionSnapshot> snapshots, std::set<pid_type> active,
                            Seconds at, std::int64_t confirmations = 0) {
        monitor.observe(snapshots, active, confirmations, at);
        return monitor.state();
    }
};

TEST_F(PermissionMonitorTest, SilenceFromEveryPlayingTappedAppForTheThresholdMeansLikelyDenied) {
    EXPECT_EQ(observe({tapped(a, 4, 0), tapped(b, 2, 0)}, {a, b}, t0), PermissionState::unknown);
    EXPECT_EQ(observe({tapped(a, 40, 0), tapped(b, 30, 0)}, {a, b}, t0 + 7.9),
              PermissionState::unknown);
    EXPECT_EQ(observe({tapped(a, 50, 0), tapped(b, 40, 0)}, {a, b}, t0 + 8.0),
              PermissionState::likelyDenied);
    // Each process is timed from when it was first seen with buffers.
    EXPECT_EQ(monitor.progress().at(a), (PermissionMonitor::Progress{0, t0}));
}

TEST_F(PermissionMonitorTest, IncompleteSilenceLeavesTheStateAlone) {
    // One session has not run yet: its silence proves nothing.
    observe({tapped(a, 4, 0), tapped(b, 0, 0)}, {a, b}, t0);
    EXPECT_EQ(observe({tapped(a, 400, 0), tapped(b, 0, 0)}, {a, b}, t0 + 20),
              PermissionState::unknown);
    EXPECT_FALSE(monitor.progress().contains(b));

    // A tapped process whose source has just stopped is not expected to sound.
    PermissionMonitor stopped{8.0};
    stopped.observe({tapped(a, 4, 0), tapped(b, 4, 0)}, {a, b}, 0, t0);
    stopped.observe({tapped(a, 400, 0), tapped(b, 400, 0)}, {a}, 0, t0 + 20);
    EXPECT_EQ(stopped.state(), PermissionState::unknown);

    // No sessions, or no active sources at all: nothing to judge.
    EXPECT_EQ(observe({}, {a}, t0 + 30), PermissionState::unknown);
    PermissionMonitor idle{8.0};
    idle.observe({tapped(a, 4, 0)}, {}, 0, t0);
    idle.observe({tapped(a, 400, 0)}, {}, 0, t0 + 20);
    EXPECT_EQ(idle.state(), PermissionState::unknown);
}

TEST_F(PermissionMonitorTest, ANonSilentBufferOrAConfirmationGrantsEvenAfterADenial) {
    observe({tapped(a, 4, 0)}, {a}, t0);
    ASSERT_EQ(observe({tapped(a, 90, 0)}, {a}, t0 + 9), PermissionState::likelyDenied);
    EXPECT_EQ(observe({tapped(a, 91, 1)}, {a}, t0 + 9.5), PermissionState::granted);

    // A confirmation counted since the last look is proof enough, without any session.
    PermissionMonitor confirmed{8.0};
    confirmed.observe({}, {}, 0, t0);
    EXPECT_EQ(confirmed.state(), PermissionState::unknown);
    confirmed.observe({}, {}, 1, t0 + 0.5);
    EXPECT_EQ(confirmed.state(), PermissionState::granted);
    EXPECT_EQ(confirmed.lastConfirmations(), 1);
}

TEST_F(PermissionMonitorTest, ARebuiltSessionIsTimedFromItsRebuild) {
    observe({tapped(a, 4, 2)}, {a}, t0);
    // Counters restarted at t0 + 5: not evidence (nothing sounded), but the clock restarts.
    EXPECT_EQ(observe({tapped(a, 3, 0)}, {a}, t0 + 5), PermissionState::granted);
    EXPECT_EQ(monitor.progress().at(a), (PermissionMonitor::Progress{0, t0 + 5}));
    EXPECT_EQ(observe({tapped(a, 80, 0)}, {a}, t0 + 12.9), PermissionState::granted);
    EXPECT_EQ(observe({tapped(a, 90, 0)}, {a}, t0 + 13), PermissionState::likelyDenied);

    // A session that goes and comes back is timed afresh too.
    observe({}, {a}, t0 + 14);
    EXPECT_TRUE(monitor.progress().empty());
    observe({tapped(a, 2, 0)}, {a}, t0 + 15);
    EXPECT_EQ(monitor.progress().at(a).since, t0 + 15);
}

TEST_F(PermissionMonitorTest, ForgettingTheVerdictKeepsTheConfirmationCount) {
    observe({tapped(a, 4, 1)}, {a}, t0, 3);
    ASSERT_EQ(monitor.state(), PermissionState::granted);
    monitor.forgetVerdict();
    EXPECT_EQ(monitor.state(), PermissionState::unknown);
    EXPECT_TRUE(monitor.progress().empty());
    EXPECT_EQ(monitor.lastConfirmations(), 3);
    // The same count again is no new proof; silence is judged from scratch.
    EXPECT_EQ(observe({tapped(a, 5, 0)}, {a}, t0 + 1, 3), PermissionState::unknown);
    EXPECT_EQ(observe({tapped(a, 90, 0)}, {a}, t0 + 9, 3), PermissionState::likelyDenied);
}

TEST(PermissionMonitorRefusal, OnlyARefusedOperationIsTheVerdictWhenSilenceIsNoEvidence) {
    PermissionMonitor monitor{std::numeric_limits<Seconds>::infinity(), {-1, -13}};
    monitor.observe({tapped(a, 4, 0)}, {a}, 0, t0);
    monitor.observe({tapped(a, 4000, 0)}, {a}, 0, t0 + 3600);
    EXPECT_EQ(monitor.state(), PermissionState::unknown) << "an hour of silence proves nothing";

    EXPECT_FALSE(monitor.noteFailure(AudioHardwareError::status("link", -5)));
    EXPECT_FALSE(monitor.noteFailure(AudioHardwareError::noSuchObject()));
    EXPECT_EQ(monitor.state(), PermissionState::unknown);
    EXPECT_TRUE(monitor.noteFailure(AudioHardwareError::status("link", -13)));
    EXPECT_EQ(monitor.state(), PermissionState::likelyDenied);

    // Sound still proves capture works; a monitor without refusal statuses ignores failures.
    monitor.observe({tapped(a, 4001, 1)}, {a}, 0, t0 + 3601);
    EXPECT_EQ(monitor.state(), PermissionState::granted);
    PermissionMonitor silent{8.0};
    EXPECT_FALSE(silent.noteFailure(AudioHardwareError::status("link", -13)));
    EXPECT_EQ(silent.state(), PermissionState::unknown);
}

} // namespace
} // namespace brindell
