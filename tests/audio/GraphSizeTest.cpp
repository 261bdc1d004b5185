#include "LiveEngineRun.h"
#include "support/AudioSession.h"
#include "support/LevelMeter.h"
#include "support/TestFiles.h"

#include <algorithm>
#include <cmath>
#include <future>
#include <gtest/gtest.h>
#include <optional>
#include <thread>

namespace brindell {
namespace {

using namespace std::chrono_literals;
using testing::AudioSession;
using testing::LevelMeter;

// The envelope of a recorded 660 Hz tone: the largest magnitude over each window of two periods,
// so that one lost quantum (a loaded machine at a small quantum) does not read as a change.
std::vector<float> envelope(const std::vector<float>& samples) {
    constexpr std::size_t period = 146; // 2 * 48000 / 660, rounded up
    std::vector<float> result;
    for (std::size_t i = 0; i + period <= samples.size(); ++i) {
        float peak = 0;
        for (std::size_t j = i; j < i + period; ++j) {
            peak = std::max(peak, std::abs(samples[j]));
        }
        result.push_back(peak);
    }
    return result;
}

std::string describe(const AudioSession::Clock& clock) {
    return std::to_string(clock.rate) + " Hz, quantum " + std::to_string(clock.quantum);
}

// An adjusted app at every graph size PipeWire runs: small and large quanta (above the 8192
// samples a filter port holds by default, with the limit raised) and other rates. The level on
// the sink follows the volume and mute, and a volume change ramps instead of stepping (the
// output and the other app are LiveEngineTest's, at the default clock).
class GraphSizeTest : public ::testing::TestWithParam<AudioSession::Clock> {};

TEST_P(GraphSizeTest, TheLevelAndTheRampAreRight) {
    AudioSession session(GetParam());
    const std::string toneProgram = testing::installToneApplication(session);
    auto tone = testing::startTone(session, toneProgram, {"660:0.5"}, 1);
    LevelMeter speakers(session, AudioSession::speakers, {660});
    ASSERT_TRUE(speakers.waitFor(LevelMeter::tonesNear({0.5}), 10s)) << speakers.recent();

    auto engine = testing::startEngine(session);
    ASSERT_TRUE(testing::waitForRow(*engine, tone->pid(), testing::tapped, 15s))
        << describe(GetParam()) << "\n"
        << session.logs();
    EXPECT_TRUE(speakers.waitFor(LevelMeter::tonesNear({0.5}), 5s)) << speakers.recent();

    // Halving the volume while recording: the level falls from 0.5 to 0.25 over the ramp's
    // 480 frames (at the graph's rate; the recording runs at 48 kHz), not in one step. A small
    // quantum on a loaded machine loses a cycle now and then; a change with a gap in it is
    // measured again.
    const double rampFrames = 480.0 * 48000.0 / GetParam().rate;
    std::optional<double> ramp;
    for (int attempt = 0; attempt < 3 && !ramp; ++attempt) {
        engine->setVolume(tone->pid(), 1.0f);
        ASSERT_TRUE(speakers.waitFor(LevelMeter::tonesNear({0.5}), 5s)) << speakers.recent();
        auto recording =
            std::async(std::launch::async, [&] { return speakers.record(48000, 10s); });
        std::this_thread::sleep_for(300ms);
        engine->setVolume(tone->pid(), 0.5f);
        const std::vector<float> samples = recording.get();
        ASSERT_FALSE(samples.empty());
        const std::vector<float> level = envelope(samples);
        // The change ends where the level has settled at 0.25 for 500 samples, and starts
        // where it last stood at 0.5 before that.
        std::size_t end = 0;
        for (std::size_t run = 0; end < level.size() && run < 500; ++end) {
            run = level[end] > 0.2f && level[end] < 0.27f ? run + 1 : 0;
        }
        ASSERT_LT(end, level.size()) << describe(GetParam());
        end -= 499;
        std::size_t start = end;
        while (start > 0 && level[start - 1] < 0.48f) {
            --start;
        }
        ASSERT_GT(start, 0u) << describe(GetParam());
        const bool gap = std::search_n(samples.begin() + static_cast<std::ptrdiff_t>(start),
                                       samples.begin() + static_cast<std::ptrdiff_t>(end), 16,
                                       0.0f) != samples.begin() + static_cast<std::ptrdiff_t>(end);
        if (!gap) {
            ramp = static_cast<double>(end - start);
        }
    }
    ASSERT_TRUE(ramp) << describe(GetParam()) << ": every change had a gap in it";
    // A step reads as at most half a period of the tone (37 samples).
    EXPECT_GT(*ramp, 48) << describe(GetParam());
    EXPECT_LT(*ramp, rampFrames + 150) << describe(GetParam());
    EXPECT_TRUE(speakers.waitFor(LevelMeter::tonesNear({0.25}), 5s)) << speakers.recent();
    engine->setMuted(tone->pid(), true);
    EXPECT_TRUE(speakers.waitFor(LevelMeter::tonesNear({0}), 5s)) << speakers.recent();
    engine->stop();
    EXPECT_TRUE(speakers.waitFor(LevelMeter::tonesNear({0.5}), 10s)) << speakers.recent();
}

// The smallest quantum here is 256: at 64 the sanitizer builds on two busy cores lose cycles
// often enough to blur the meter, whatever the node does.
INSTANTIATE_TEST_SUITE_P(Clocks, GraphSizeTest,
                         ::testing::Values(AudioSession::Clock{48000, 256, 0},
                                           AudioSession::Clock{48000, 16384, 16384},
                                           AudioSession::Clock{44100, 1024, 0},
                                           AudioSession::Clock{96000, 2048, 0}),
                         [](const auto& param) {
                             return std::to_string(param.param.rate) + "Hz_quantum" +
                                    std::to_string(param.param.quantum);
                         });

} // namespace
} // namespace brindell
