#include "support/AudioSession.h"
#include "support/LevelMeter.h"
#include "support/TestFiles.h"

#include <future>
#include <gtest/gtest.h>

namespace brindell {
namespace {

using namespace std::chrono_literals;
using testing::AudioSession;
using testing::LevelMeter;
using testing::readFile;

// brindell --routetest with the live engine: the app's sound goes to each output in turn and
// back to the default, every step is logged with the row's output, and nothing stays behind.
TEST(RouteTest, TheAppVisitsEveryOutputAndReturnsToTheDefault) {
    AudioSession session;
    auto player =
        testing::startTone(session, testing::installToneApplication(session), {"440:0.5"}, 1);
    LevelMeter speakers(session, AudioSession::speakers);
    LevelMeter headphones(session, AudioSession::headphones);
    ASSERT_TRUE(speakers.waitForPeak(0.48, 0.52, 10s)) << speakers.recent();

    // Its headphones step lasts two seconds: the tone moves there, and away from the speakers.
    // Both meters watch from the start, so a slow machine cannot miss the step.
    auto speakersSilent =
        std::async(std::launch::async, [&] { return speakers.waitForPeak(0.0, 0.001, 30s); });
    auto routeTest = session.run({"env", "TMPDIR=" + session.folder(), BRINDELL_EXECUTABLE,
                                  "--routetest", std::to_string(player->pid())});
    EXPECT_TRUE(headphones.waitForPeak(0.48, 0.52, 30s)) << headphones.recent();
    EXPECT_TRUE(speakersSilent.get()) << speakers.recent();
    ASSERT_TRUE(routeTest->waitExit(60s));
    const std::string log = readFile(session.folder() + "/routetest.log");
    EXPECT_EQ(routeTest->status().value_or(-1), 0) << log;
    EXPECT_NE(log.find("(" + std::string(AudioSession::headphones) + ")"), std::string::npos)
        << log;
    EXPECT_NE(log.find("output test-headphones status ok"), std::string::npos) << log;
    EXPECT_NE(log.find("output default status ok"), std::string::npos) << log;
    EXPECT_NE(log.find("routetest passed"), std::string::npos) << log;

    EXPECT_TRUE(speakers.waitForPeak(0.48, 0.52, 10s)) << speakers.recent();
    EXPECT_FALSE(session.leftover({"com.quorvel."}));
}

TEST(RouteTest, AProcessThatPlaysNothingIsReported) {
    AudioSession session;
    const auto code = session.runToEnd(
        {"env", "TMPDIR=" + session.folder(), BRINDELL_EXECUTABLE, "--routetest", "1"}, 40s);
    const std::string log = readFile(session.folder() + "/routetest.log");
    ASSERT_TRUE(code.has_value()) << log;
    EXPECT_NE(*code, 0) << log;
    EXPECT_NE(log.find("is it playing?"), std::string::npos) << log;
}

} // namespace
} // namespace brindell
