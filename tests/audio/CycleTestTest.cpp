#include "support/AudioSession.h"
#include "support/LevelMeter.h"
#include "support/TestFiles.h"

#include <fstream>
#include <gtest/gtest.h>

namespace brindell {
namespace {

using namespace std::chrono_literals;
using testing::AudioSession;
using testing::LevelMeter;
using testing::readFile;

// brindell --cycletest over the session manager and the PipeWire adapter: every cycle gets its
// session active, nothing of ours stays in the graph or in WirePlumber's memory, and the app
// plays on its own route at its own level afterwards.
TEST(CycleTest, EveryCycleGetsActiveAndLeavesNothingBehind) {
    AudioSession session;
    auto player = session.tonePlayer({"440:0.5"}, AudioSession::speakers);
    LevelMeter meter(session, AudioSession::speakers);
    ASSERT_TRUE(meter.waitForPeak(0.48, 0.52, 10s)) << meter.recent();

    const auto code = session.runToEnd(
        {"env", "TMPDIR=" + session.folder(), BRINDELL_EXECUTABLE, "--cycletest", "3"}, 90s);
    const std::string log = readFile(session.folder() + "/cycletest.log");
    ASSERT_TRUE(code.has_value()) << log;
    EXPECT_EQ(*code, 0) << log;
    EXPECT_NE(log.find("target pid " + std::to_string(player->pid())), std::string::npos) << log;
    EXPECT_NE(log.find("cycle 3: ok"), std::string::npos) << log;
    EXPECT_NE(log.find("cycletest: 3 cycles, 3 ok, 0 objects left"), std::string::npos) << log;

    for (const auto& name : session.nodeNames()) {
        EXPECT_EQ(name.find("com.quorvel."), std::string::npos) << name;
    }
    EXPECT_EQ(session.wirePlumberState("restore-stream").find("com.quorvel."), std::string::npos);
    EXPECT_EQ(session.defaultSink(), std::optional<std::string>(AudioSession::speakers));
    EXPECT_TRUE(meter.waitForPeak(0.48, 0.52, 5s)) << meter.recent();
}

} // namespace
} // namespace brindell
