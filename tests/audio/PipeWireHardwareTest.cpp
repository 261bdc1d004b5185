#include "audio/pipewire/PipeWireHardware.h"

#include "support/AudioSession.h"
#include "support/LevelMeter.h"
#include "tapengine/RenderCallback.h"
#include "tapengine/TapIOState.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>

namespace brindell {
namespace {

using namespace std::chrono_literals;
using testing::AudioSession;
using testing::ChildProcess;
using testing::LevelMeter;

constexpr const char* speakers = AudioSession::speakers;
constexpr const char* headphones = AudioSession::headphones;

bool mentionsBrindell(const std::string& text) {
    return text.find("com.quorvel") != std::string::npos ||
           text.find("Brindell") != std::string::npos;
}

pid_type pidOf(const ChildProcess& child) {
    return static_cast<pid_type>(child.pid());
}

// One tap session's chain, as the session manager builds it.
struct Chain {
    TapHandle tap;
    AudioObjectID aggregate = 0;
    IOHandle io;
    std::unique_ptr<TapIOState> state;
};

class PipeWireHardwareTest : public ::testing::Test {
protected:
    AudioSession session;
    std::unique_ptr<PipeWireHardware> hw;

    void SetUp() override {
        hw = std::make_unique<PipeWireHardware>();
        ASSERT_TRUE(hw->isConnected()) << session.logs();
    }

    Chain route(pid_type pid, bool muted, const std::string& device, float gain, bool passthrough) {
        Chain chain;
        const std::string name = "Brindell " + std::to_string(pid);
        chain.tap = hw->createTap(hw->processObject(pid), name, muted);
        chain.aggregate =
            hw->createAggregate({"com.quorvel.Brindell.agg.test-" + std::to_string(++builds), name,
                                 device, chain.tap.uid});
        chain.state = std::make_unique<TapIOState>(gain, false);
        chain.state->memory()->passthrough.store(passthrough ? 1 : 0);
        chain.io = hw->startIO(chain.aggregate, makeTapIOBlock(chain.state->memory()));
        return chain;
    }

    void unroute(Chain& chain) {
        hw->stopIO(chain.io);
        hw->destroyAggregate(chain.aggregate);
        hw->destroyTap(chain.tap.objectID);
    }

    // Nothing of Brindell's in the graph or in the metadata.
    ::testing::AssertionResult graphIsClean() {
        for (const auto& name : session.nodeNames()) {
            if (mentionsBrindell(name)) {
                return ::testing::AssertionFailure() << "node " << name << " is left";
            }
        }
        for (const auto& value : session.metadataValues()) {
            if (mentionsBrindell(value)) {
                return ::testing::AssertionFailure() << "metadata " << value << " is left";
            }
        }
        return ::testing::AssertionSuccess();
    }

    // WirePlumber saves its stream state a second after a change; wait until it has written
    // after `since`, then check that it names nothing of Brindell's.
    ::testing::AssertionResult streamStateIsClean(std::filesystem::file_time_type since) {
        const std::string path = session.folder() + "/state/wireplumber/restore-stream";
        AudioSession::waitUntil(
            [&] {
                std::error_code error;
                return std::filesystem::last_write_time(path, error) > since;
            },
            5s);
        const std::string state = session.wirePlumberState("restore-stream");
        if (mentionsBrindell(state)) {
            return ::testing::AssertionFailure() << "restore-stream names Brindell:\n" << state;
        }
        return ::testing::AssertionSuccess();
    }

    int builds = 0;
};

TEST_F(PipeWireHardwareTest, UnmutedTapLeavesTheAppOnItsRouteAndFeedsTheIOBlock) {
    auto player = session.tonePlayer({"440:0.5"}, speakers);
    LevelMeter meter(session, speakers);
    ASSERT_TRUE(meter.waitForPeak(0.48, 0.52, 10s)) << meter.recent();

    Chain chain = route(pidOf(*player), false, speakers, 1.0f, false);
    const auto* memory = chain.state->memory();
    ASSERT_TRUE(AudioSession::waitUntil([&] { return memory->nonzeroBuffers.load() >= 10; }, 10s))
        << "buffers " << memory->buffers.load();
    EXPECT_NEAR(memory->peak.load(), 0.5f, 0.02f);
    // Passthrough off: the IO node adds silence, the app's own route carries it unchanged.
    EXPECT_TRUE(meter.waitForPeak(0.48, 0.52, 5s, 10)) << meter.recent();
    const auto targets = session.linkedTargetsOf(pidOf(*player));
    EXPECT_NE(std::find(targets.begin(), targets.end(), speakers), targets.end());
    EXPECT_EQ(targets.size(), 2u) << "its own route and the per-app sink";
    unroute(chain);
}

TEST_F(PipeWireHardwareTest, MutedTapPlaysTheAppOnlyThroughTheGainStage) {
    auto player = session.tonePlayer({"440:0.5"}, speakers);
    LevelMeter meter(session, speakers);
    ASSERT_TRUE(meter.waitForPeak(0.48, 0.52, 10s)) << meter.recent();

    Chain chain = route(pidOf(*player), true, speakers, 0.5f, true);
    // 0.25 and nothing else: a direct copy on top would read 0.75.
    EXPECT_TRUE(meter.waitForPeak(0.23, 0.27, 10s, 10)) << meter.recent();
    EXPECT_EQ(session.linkedTargetsOf(pidOf(*player)),
              std::vector<std::string>{"com.quorvel.Brindell.agg.test-1"});
    unroute(chain);
}

TEST_F(PipeWireHardwareTest, MutedTapOnAnotherDeviceLeavesTheDefaultSilent) {
    auto player = session.tonePlayer({"440:0.5"});
    LevelMeter onSpeakers(session, speakers);
    LevelMeter onHeadphones(session, headphones);
    ASSERT_TRUE(onSpeakers.waitForPeak(0.48, 0.52, 10s)) << onSpeakers.recent();

    Chain chain = route(pidOf(*player), true, headphones, 0.5f, true);
    EXPECT_TRUE(onHeadphones.waitForPeak(0.23, 0.27, 10s, 10)) << onHeadphones.recent();
    EXPECT_TRUE(onSpeakers.waitForPeak(0.0, 0.001, 5s, 10)) << onSpeakers.recent();
    unroute(chain);
}

TEST_F(PipeWireHardwareTest, StreamsTheAppOpensLaterAreTappedTooButNotItsChildren) {
    auto player = session.tonePlayer({"440:0.5"}, speakers);
    LevelMeter meter(session, speakers, {440, 660, 880});
    ASSERT_TRUE(meter.waitForPeak(0.48, 0.52, 10s)) << meter.recent();
    Chain chain = route(pidOf(*player), true, speakers, 0.5f, true);
    ASSERT_TRUE(meter.waitForPeak(0.23, 0.27, 10s)) << meter.recent();

    // A second stream of the same process, like a browser's next video.
    ASSERT_TRUE(player->writeLine("open 660:0.5"));
    ASSERT_TRUE(player->waitForLine("streaming 1", 10s));
    auto both = [](const LevelMeter::Window& w) {
        return std::abs(w.tones[0] - 0.25) < 0.02 && std::abs(w.tones[1] - 0.25) < 0.02;
    };
    EXPECT_TRUE(meter.waitFor(both, 10s, 10)) << meter.recent();
    EXPECT_EQ(session.linkedTargetsOf(pidOf(*player)),
              std::vector<std::string>{"com.quorvel.Brindell.agg.test-1"});

    // A child process is a process of its own: not tapped, it plays at its own level.
    ASSERT_TRUE(player->writeLine("fork 880:0.5"));
    ASSERT_TRUE(player->waitForLine("forked", 5s));
    auto childDirect = [](const LevelMeter::Window& w) {
        return std::abs(w.tones[0] - 0.25) < 0.02 && std::abs(w.tones[1] - 0.25) < 0.02 &&
               std::abs(w.tones[2] - 0.5) < 0.02;
    };
    EXPECT_TRUE(meter.waitFor(childDirect, 10s, 10)) << meter.recent();
    unroute(chain);
}

TEST_F(PipeWireHardwareTest, TeardownPutsTheAppBackAndLeavesNothingBehind) {
    auto player = session.tonePlayer({"440:0.5"}, speakers);
    LevelMeter meter(session, speakers);
    ASSERT_TRUE(meter.waitForPeak(0.48, 0.52, 10s)) << meter.recent();
    const auto before = std::filesystem::file_time_type::clock::now();

    Chain muted = route(pidOf(*player), true, speakers, 0.5f, true);
    ASSERT_TRUE(meter.waitForPeak(0.23, 0.27, 10s)) << meter.recent();
    unroute(muted);
    EXPECT_TRUE(meter.waitForPeak(0.48, 0.52, 5s, 10)) << meter.recent();
    Chain unmuted = route(pidOf(*player), false, speakers, 1.0f, false);
    unroute(unmuted);

    EXPECT_TRUE(hw->listTaps().empty());
    for (const auto& device : hw->outputDevices()) {
        EXPECT_FALSE(device.isPrivateAggregate) << device.uid;
    }
    EXPECT_TRUE(graphIsClean());
    EXPECT_EQ(session.linkedTargetsOf(pidOf(*player)), std::vector<std::string>{speakers});
    EXPECT_TRUE(streamStateIsClean(before));
    EXPECT_TRUE(meter.waitForPeak(0.48, 0.52, 5s, 5)) << meter.recent();
}

TEST_F(PipeWireHardwareTest, TheAppComesBackOnItsOwnWhenTheOwnerIsKilled) {
    auto player = session.tonePlayer({"440:0.5"}, speakers);
    LevelMeter meter(session, speakers);
    ASSERT_TRUE(meter.waitForPeak(0.48, 0.52, 10s)) << meter.recent();
    const auto before = std::filesystem::file_time_type::clock::now();

    auto holder =
        session.run({BRINDELL_TAP_HOLDER, std::to_string(player->pid()), speakers, "0.5"}, true);
    const auto active = holder->waitForLine("", 20s);
    ASSERT_EQ(active, std::optional<std::string>("active")) << session.logs();
    ASSERT_TRUE(meter.waitForPeak(0.23, 0.27, 10s)) << meter.recent();

    holder->signal(SIGKILL);
    ASSERT_TRUE(holder->waitExit(5s));
    EXPECT_TRUE(meter.waitForPeak(0.48, 0.52, 2s, 2)) << meter.recent();

    // The crashed run left its move in the metadata; the next start removes it.
    hw.reset();
    hw = std::make_unique<PipeWireHardware>();
    EXPECT_TRUE(AudioSession::waitUntil([&] { return graphIsClean(); }, 5s)) << graphIsClean();
    EXPECT_TRUE(streamStateIsClean(before));
    EXPECT_TRUE(meter.waitForPeak(0.48, 0.52, 5s, 5)) << meter.recent();
}

} // namespace
} // namespace brindell
