#include "tapengine/RenderCallback.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace brindell {
namespace {

constexpr float S = 1.0f / 480.0f;

// Interleaved float samples in a buffer the callback can read or write.
struct Buf {
    std::vector<float> samples;
    AudioBuffer buffer;
    Buf(std::uint32_t channels, std::size_t frames, float value = 0.0f)
        : samples(frames * (channels == 0 ? 1 : channels), value) {
        buffer =
            AudioBuffer{channels, static_cast<std::uint32_t>(samples.size() * 4), samples.data()};
    }
    float at(std::size_t frame, std::size_t channel) const {
        const std::size_t ch = buffer.numberChannels == 0 ? 1 : buffer.numberChannels;
        return samples[frame * ch + channel];
    }
};

struct Cycle {
    std::vector<AudioBuffer> in;
    std::vector<AudioBuffer> out;
    void run(TapIOState& state) {
        AudioBufferList inList{static_cast<std::uint32_t>(in.size()), in.data()};
        AudioBufferList outList{static_cast<std::uint32_t>(out.size()), out.data()};
        renderTap(inList, outList, state.memory());
    }
};

// The per-sample definition, written as plainly as possible, to compare the real one against.
void reference(const std::vector<const Buf*>& inputs, std::vector<Buf*>& outputs,
               TapIOState::Memory& m) {
    for (Buf* o : outputs) {
        std::fill(o->samples.begin(), o->samples.end(), 0.0f);
    }
    if (inputs.empty()) {
        return;
    }
    const Buf& tap = *inputs.back();
    const std::size_t cin = tap.buffer.numberChannels == 0 ? 1 : tap.buffer.numberChannels;
    std::size_t frames = 0;
    float peak = 0;
    if (cin * 4 <= tap.buffer.dataByteSize) {
        frames = tap.buffer.dataByteSize / (cin * 4);
        for (std::size_t i = 0; i < frames * cin; ++i) {
            const float x = std::fabs(tap.samples[i]);
            if (x > peak) {
                peak = x;
            }
        }
    }
    m.buffers = m.buffers + 1;
    if (peak > 0) {
        m.nonzeroBuffers = m.nonzeroBuffers + 1;
    }
    m.peak = peak;
    if (m.passthrough == 0) {
        return;
    }
    const float target = m.muted != 0 ? 0.0f : m.gain.load();
    const float a = m.applied;
    float g = a;
    for (Buf* o : outputs) {
        const std::size_t cout = o->buffer.numberChannels == 0 ? 1 : o->buffer.numberChannels;
        const std::size_t n = std::min<std::size_t>(o->buffer.dataByteSize / (cout * 4), frames);
        const std::size_t k = std::min(cout, cin);
        g = a;
        for (std::size_t i = 0; i < n; ++i) {
            if (g < target) {
                g = std::min(g + S, target);
            } else if (g > target) {
                g = std::max(g - S, target);
            }
            for (std::size_t c = 0; c < k; ++c) {
                o->samples[i * cout + c] = tap.samples[i * cin + c] * g;
            }
        }
    }
    m.applied = g;
}

TEST(TapIOState, ConstructionClampsAndStartsAtTarget) {
    TapIOState loud(1.7f, false);
    EXPECT_EQ(loud.memory()->gain, 1.0f);
    EXPECT_EQ(loud.memory()->applied, 1.0f);
    TapIOState negative(-0.5f, false);
    EXPECT_EQ(negative.memory()->gain, 0.0f);
    TapIOState muted(0.6f, true);
    EXPECT_EQ(muted.memory()->gain, 0.6f);
    EXPECT_EQ(muted.memory()->muted, 1);
    EXPECT_EQ(muted.memory()->applied, 0.0f);
    EXPECT_EQ(muted.memory()->passthrough, 0);
    EXPECT_EQ(muted.memory()->buffers, 0);
}

TEST(RenderCallback, ListeningOnlyCountsAndMeasuresButStaysSilent) {
    TapIOState state(0.5f, false);
    Buf in(2, 256, 0.8f);
    in.samples[7] = -0.9f;
    Buf out(2, 256, 3.0f); // stale garbage must be cleared
    Cycle cycle{{in.buffer}, {out.buffer}};
    cycle.run(state);
    cycle.run(state);
    EXPECT_EQ(state.memory()->buffers, 2);
    EXPECT_EQ(state.memory()->nonzeroBuffers, 2);
    EXPECT_FLOAT_EQ(state.memory()->peak, 0.9f);
    EXPECT_EQ(state.memory()->applied, 0.5f);
    for (float s : out.samples) {
        ASSERT_EQ(s, 0.0f);
    }
}

TEST(RenderCallback, SilentTapCountsButIsNotNonzero) {
    TapIOState state(1.0f, false);
    Buf in(2, 128, 0.0f);
    Buf out(2, 128);
    Cycle{{in.buffer}, {out.buffer}}.run(state);
    EXPECT_EQ(state.memory()->buffers, 1);
    EXPECT_EQ(state.memory()->nonzeroBuffers, 0);
    EXPECT_EQ(state.memory()->peak, 0.0f);
}

TEST(RenderCallback, PeakIgnoresNaNAndIsNotHeld) {
    TapIOState state(1.0f, false);
    Buf in(2, 64, 0.25f);
    in.samples[0] = std::numeric_limits<float>::quiet_NaN();
    in.samples[33] = std::numeric_limits<float>::quiet_NaN();
    in.samples[100] = -0.75f;
    Buf out(2, 64);
    Cycle cycle{{in.buffer}, {out.buffer}};
    cycle.run(state);
    EXPECT_EQ(state.memory()->peak, 0.75f);
    std::fill(in.samples.begin(), in.samples.end(), std::numeric_limits<float>::quiet_NaN());
    cycle.run(state);
    EXPECT_EQ(state.memory()->peak, 0.0f); // all NaN: nothing replaces the starting 0
    EXPECT_EQ(state.memory()->nonzeroBuffers, 1);
    EXPECT_EQ(state.memory()->buffers, 2);
}

TEST(RenderCallback, RampDownTakesExactSteps) {
    TapIOState state(1.0f, false);
    state.memory()->passthrough = 1;
    state.memory()->gain = 0.2f;
    Buf in(2, 256, 1.0f);
    Buf out(2, 256);
    Cycle cycle{{in.buffer}, {out.buffer}};
    cycle.run(state);
    // The gain is stepped before the first frame is written.
    EXPECT_FLOAT_EQ(out.at(0, 0), 1.0f - S);
    EXPECT_FLOAT_EQ(out.at(0, 1), 1.0f - S);
    EXPECT_NEAR(state.memory()->applied, 1.0f - 256.0f / 480.0f, 1e-5);
    EXPECT_LT(out.at(255, 0), out.at(254, 0));
    cycle.run(state);
    EXPECT_EQ(state.memory()->applied, 0.2f);
    EXPECT_EQ(out.at(255, 1), 0.2f);
}

TEST(RenderCallback, RampUpAndSteadyGain) {
    TapIOState state(0.0f, false);
    state.memory()->passthrough = 1;
    state.memory()->gain = 0.8f;
    Buf in(2, 512, 0.5f);
    Buf out(2, 512);
    Cycle cycle{{in.buffer}, {out.buffer}};
    cycle.run(state);
    EXPECT_FLOAT_EQ(out.at(0, 0), 0.5f * S);
    EXPECT_GT(out.at(1, 0), out.at(0, 0));
    // A change of 0.8 takes 384 frames; from then on the gain is constant.
    EXPECT_EQ(out.at(383, 0), 0.5f * 0.8f);
    EXPECT_EQ(out.at(511, 1), 0.5f * 0.8f);
    EXPECT_LT(out.at(382, 0), 0.5f * 0.8f);
    EXPECT_EQ(state.memory()->applied, 0.8f);
}

TEST(RenderCallback, MuteRampsToZeroNeverCuts) {
    TapIOState state(1.0f, false);
    state.memory()->passthrough = 1;
    state.memory()->muted = 1;
    Buf in(2, 512, 1.0f);
    Buf out(2, 512);
    Cycle{{in.buffer}, {out.buffer}}.run(state);
    EXPECT_FLOAT_EQ(out.at(0, 0), 1.0f - S);
    for (std::size_t i = 1; i < 470; ++i) {
        ASSERT_LT(out.at(i, 0), out.at(i - 1, 0)) << "frame " << i;
        ASSERT_GT(out.at(i, 0), 0.0f) << "frame " << i;
    }
    for (std::size_t i = 481; i < 512; ++i) {
        ASSERT_EQ(out.at(i, 0), 0.0f) << "frame " << i;
    }
    EXPECT_EQ(state.memory()->applied, 0.0f);
}

TEST(RenderCallback, EveryOutputBufferRestartsTheRamp) {
    TapIOState state(1.0f, false);
    state.memory()->passthrough = 1;
    state.memory()->gain = 0.0f;
    Buf in(2, 100, 1.0f);
    Buf first(2, 100);
    Buf second(2, 40);
    Cycle{{in.buffer}, {first.buffer, second.buffer}}.run(state);
    for (std::size_t i = 0; i < 40; ++i) {
        ASSERT_EQ(first.at(i, 0), second.at(i, 0)) << "frame " << i;
    }
    // applied is the gain reached on the last output buffer.
    EXPECT_FLOAT_EQ(state.memory()->applied, second.at(39, 0));
}

TEST(RenderCallback, ChannelCountMismatchBothWays) {
    {
        TapIOState state(1.0f, false);
        state.memory()->passthrough = 1;
        Buf in(2, 16, 0.5f);
        Buf out(8, 16, 9.0f);
        Cycle{{in.buffer}, {out.buffer}}.run(state);
        for (std::size_t f = 0; f < 16; ++f) {
            EXPECT_EQ(out.at(f, 0), 0.5f);
            EXPECT_EQ(out.at(f, 1), 0.5f);
            for (std::size_t c = 2; c < 8; ++c) {
                ASSERT_EQ(out.at(f, c), 0.0f);
            }
        }
    }
    {
        TapIOState state(1.0f, false);
        state.memory()->passthrough = 1;
        Buf in(1, 16, 0.5f);
        Buf out(2, 16, 9.0f);
        Cycle{{in.buffer}, {out.buffer}}.run(state);
        for (std::size_t f = 0; f < 16; ++f) {
            EXPECT_EQ(out.at(f, 0), 0.5f);
            EXPECT_EQ(out.at(f, 1), 0.0f);
        }
    }
    {
        // Tap channels beyond the output's are dropped.
        TapIOState state(1.0f, false);
        state.memory()->passthrough = 1;
        Buf in(6, 16);
        for (std::size_t i = 0; i < in.samples.size(); ++i) {
            in.samples[i] = static_cast<float>(i % 6) / 10.0f;
        }
        Buf out(2, 16);
        Cycle{{in.buffer}, {out.buffer}}.run(state);
        EXPECT_EQ(out.at(5, 0), 0.0f);
        EXPECT_FLOAT_EQ(out.at(5, 1), 0.1f);
    }
}

TEST(RenderCallback, LongerOutputThanTapIsZeroPadded) {
    TapIOState state(1.0f, false);
    state.memory()->passthrough = 1;
    Buf in(2, 10, 0.5f);
    Buf out(2, 30, 7.0f);
    Cycle{{in.buffer}, {out.buffer}}.run(state);
    EXPECT_EQ(out.at(9, 1), 0.5f);
    for (std::size_t f = 10; f < 30; ++f) {
        ASSERT_EQ(out.at(f, 0), 0.0f);
        ASSERT_EQ(out.at(f, 1), 0.0f);
    }
}

TEST(RenderCallback, PartialFrameTapCountsWithoutWriting) {
    TapIOState state(1.0f, false);
    state.memory()->passthrough = 1;
    float sample = 0.9f;
    AudioBuffer tiny{2, 4, &sample}; // one sample of a stereo frame
    Buf out(2, 8, 5.0f);
    Cycle{{tiny}, {out.buffer}}.run(state);
    EXPECT_EQ(state.memory()->buffers, 1);
    EXPECT_EQ(state.memory()->nonzeroBuffers, 0);
    EXPECT_EQ(state.memory()->peak, 0.0f);
    EXPECT_EQ(state.memory()->applied, 1.0f);
    for (float s : out.samples) {
        ASSERT_EQ(s, 0.0f);
    }
}

TEST(RenderCallback, MissingTapDataChangesNothingButSilences) {
    TapIOState state(0.3f, false);
    state.memory()->passthrough = 1;
    state.memory()->gain = 1.0f;
    Buf first(2, 8, 0.7f);
    AudioBuffer empty{2, 64, nullptr}; // the last buffer is the tap's
    Buf out(2, 8, 5.0f);
    Cycle{{first.buffer, empty}, {out.buffer}}.run(state);
    EXPECT_EQ(state.memory()->buffers, 0);
    EXPECT_EQ(state.memory()->applied, 0.3f);
    for (float s : out.samples) {
        ASSERT_EQ(s, 0.0f);
    }
    Cycle{{}, {out.buffer}}.run(state);
    EXPECT_EQ(state.memory()->buffers, 0);
}

TEST(RenderCallback, TakesTheLastInputBufferAndSkipsNullOutputs) {
    TapIOState state(1.0f, false);
    state.memory()->passthrough = 1;
    state.memory()->gain = 0.5f;
    Buf device(2, 32, 0.9f);
    Buf tap(2, 32, 0.4f);
    Buf out(2, 32);
    AudioBuffer nothing{2, 256, nullptr};
    Cycle{{device.buffer, tap.buffer}, {out.buffer, nothing}}.run(state);
    EXPECT_EQ(state.memory()->peak, 0.4f);
    EXPECT_FLOAT_EQ(out.at(0, 0), 0.4f * (1.0f - S));
    EXPECT_NEAR(state.memory()->applied, 1.0f - 32 * S, 1e-5); // the null buffer leaves G alone
}

TEST(RenderCallback, ZeroChannelsCountAsOne) {
    TapIOState state(1.0f, false);
    state.memory()->passthrough = 1;
    Buf in(0, 12, 0.25f);
    Buf out(2, 12);
    Cycle{{in.buffer}, {out.buffer}}.run(state);
    EXPECT_EQ(out.at(11, 0), 0.25f);
    EXPECT_EQ(out.at(11, 1), 0.0f);
}

// The vectorised paths must equal the per-sample definition bit for bit, over many shapes.
TEST(RenderCallback, EqualsThePerSampleDefinition) {
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int round = 0; round < 400; ++round) {
        const std::uint32_t cin = next() % 4;
        const std::size_t inFrames = 1 + next() % 700; // an empty vector may have no data pointer
        Buf in(cin, inFrames);
        for (float& s : in.samples) {
            s = static_cast<float>(static_cast<int>(next() % 2001) - 1000) / 1000.0f;
            if (next() % 97 == 0) {
                s = std::numeric_limits<float>::quiet_NaN();
            }
        }
        const std::size_t outs = next() % 3;
        std::vector<Buf> real;
        std::vector<Buf> expected;
        for (std::size_t o = 0; o < outs; ++o) {
            const std::uint32_t cout = next() % 5;
            const std::size_t f = next() % 700;
            real.emplace_back(cout, f, 3.0f);
            expected.emplace_back(cout, f, 3.0f);
        }
        TapIOState a(static_cast<float>(next() % 101) / 100.0f, next() % 5 == 0);
        TapIOState b(a.memory()->gain, a.memory()->muted != 0);
        const float target = static_cast<float>(next() % 101) / 100.0f;
        for (TapIOState* s : {&a, &b}) {
            s->memory()->passthrough = next() % 4 != 0 ? 1 : 0;
            s->memory()->gain = target;
        }
        b.memory()->passthrough = a.memory()->passthrough.load();
        Cycle cycle;
        cycle.in.push_back(in.buffer);
        std::vector<Buf*> expectedPtrs;
        for (std::size_t o = 0; o < outs; ++o) {
            cycle.out.push_back(real[o].buffer);
            expectedPtrs.push_back(&expected[o]);
        }
        cycle.run(a);
        reference({&in}, expectedPtrs, *b.memory());
        ASSERT_EQ(a.memory()->buffers, b.memory()->buffers);
        ASSERT_EQ(a.memory()->nonzeroBuffers, b.memory()->nonzeroBuffers);
        ASSERT_EQ(a.memory()->peak, b.memory()->peak) << "round " << round;
        ASSERT_EQ(a.memory()->applied, b.memory()->applied) << "round " << round;
        for (std::size_t o = 0; o < outs; ++o) {
            for (std::size_t i = 0; i < real[o].samples.size(); ++i) {
                const float x = real[o].samples[i];
                const float y = expected[o].samples[i];
                ASSERT_TRUE(x == y || (std::isnan(x) && std::isnan(y)))
                    << "round " << round << " buffer " << o << " sample " << i;
            }
        }
    }
}

TEST(RenderCallback, IOBlockIgnoresTimeStampsAndRendersIntoTheState) {
    TapIOState state(1.0f, false);
    state.memory()->passthrough = 1;
    IOBlock block = makeTapIOBlock(state.memory());
    Buf in(2, 4, 0.5f);
    Buf out(2, 4);
    AudioBufferList inList{1, &in.buffer};
    AudioBufferList outList{1, &out.buffer};
    AudioTimeStamp stamp{};
    block(stamp, inList, stamp, outList, stamp);
    EXPECT_EQ(state.memory()->buffers, 1);
    EXPECT_EQ(out.at(3, 1), 0.5f);
}

} // namespace
} // namespace brindell
