#include "tapengine/RenderCallback.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace brindell {
namespace {

constexpr float S = 1.0f / 480.0f; // a full-scale change ramps over 480 frames

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

// A small deterministic generator, so a failing round can be replayed.
struct Rng {
    std::uint32_t seed;
    std::uint32_t operator()() {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    }
    float sample() {
        return static_cast<float>(static_cast<int>((*this)() % 2001) - 1000) / 1000.0f;
    }
    float level() { return static_cast<float>((*this)() % 101) / 100.0f; }
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
// The tap is the last input; buffers without data are skipped.
void reference(const std::vector<const Buf*>& inputs, std::vector<Buf*>& outputs,
               TapIOState::Memory& m) {
    for (Buf* o : outputs) {
        if (o->buffer.data != nullptr) {
            std::fill(o->samples.begin(), o->samples.end(), 0.0f);
        }
    }
    if (inputs.empty() || inputs.back()->buffer.data == nullptr) {
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
        if (o->buffer.data == nullptr) {
            continue;
        }
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

// The vectorised paths must equal the per-sample definition bit for bit, over many shapes:
// channel counts (0 counts as 1) and lengths that differ both ways, partial frames, missing
// tap data, device buffers before the tap, outputs without data, NaN samples, and ramps that
// carry over from one cycle to the next.
TEST(RenderCallback, EqualsThePerSampleDefinition) {
    Rng next{12345};
    for (int round = 0; round < 400; ++round) {
        const std::uint32_t cin = next() % 4;
        const std::size_t inFrames = 1 + next() % 700; // an empty vector may have no data pointer
        Buf in(cin, inFrames);
        for (float& s : in.samples) {
            s = next() % 97 == 0 ? std::numeric_limits<float>::quiet_NaN() : next.sample();
        }
        if (next() % 8 == 0) {
            in.buffer.dataByteSize -= next() % ((cin == 0 ? 1 : cin) * 4); // a partial frame
        }
        if (next() % 20 == 0) {
            in.buffer.data = nullptr;
        }
        Buf device(2, 16, 0.9f);
        const bool withDevice = next() % 4 == 0;
        const std::size_t outs = next() % 3;
        std::vector<Buf> real;
        std::vector<Buf> expected;
        for (std::size_t o = 0; o < outs; ++o) {
            const std::uint32_t cout = next() % 5;
            const std::size_t f = next() % 700;
            real.emplace_back(cout, f, 3.0f);
            expected.emplace_back(cout, f, 3.0f);
            if (next() % 10 == 0) {
                real.back().buffer.data = nullptr;
                expected.back().buffer.data = nullptr;
            }
        }
        TapIOState a(next.level(), next() % 5 == 0);
        TapIOState b(a.memory()->gain, a.memory()->muted != 0);
        const int passthrough = next() % 4 != 0 ? 1 : 0;
        Cycle cycle;
        std::vector<const Buf*> inputs;
        if (withDevice) {
            cycle.in.push_back(device.buffer);
            inputs.push_back(&device);
        }
        if (next() % 30 != 0) {
            cycle.in.push_back(in.buffer);
            inputs.push_back(&in);
        }
        std::vector<Buf*> expectedPtrs;
        for (std::size_t o = 0; o < outs; ++o) {
            cycle.out.push_back(real[o].buffer);
            expectedPtrs.push_back(&expected[o]);
        }
        const int cycles = 1 + static_cast<int>(next() % 3);
        for (int c = 0; c < cycles; ++c) {
            const float target = next.level();
            for (TapIOState* s : {&a, &b}) {
                s->memory()->passthrough = passthrough;
                s->memory()->gain = target;
            }
            cycle.run(a);
            reference(inputs, expectedPtrs, *b.memory());
            ASSERT_EQ(a.memory()->buffers, b.memory()->buffers);
            ASSERT_EQ(a.memory()->nonzeroBuffers, b.memory()->nonzeroBuffers);
            ASSERT_EQ(a.memory()->peak, b.memory()->peak) << "round " << round;
            ASSERT_EQ(a.memory()->applied, b.memory()->applied) << "round " << round;
            for (std::size_t o = 0; o < outs; ++o) {
                for (std::size_t i = 0; i < real[o].samples.size(); ++i) {
                    const float x = real[o].samples[i];
                    const float y = expected[o].samples[i];
                    ASSERT_TRUE(x == y || (std::isnan(x) && std::isnan(y)))
                        << "round " << round << " cycle " << c << " buffer " << o << " sample "
                        << i;
                }
            }
        }
    }
}

// The planar form against the interleaved one as a planar graph runs it (channels copied into
// an interleaved buffer and back, cycles above 8192 frames in pieces), bit for bit, over random
// channel counts, lengths, gains, ramps, mute and passthrough toggles, and short, long and
// missing channel buffers.
TEST(RenderCallback, PlanarCyclesEqualTheInterleavedOnes) {
    Rng next{777};
    auto sameBits = [](float x, float y) { return std::memcmp(&x, &y, sizeof x) == 0; };
    for (int round = 0; round < 150; ++round) {
        TapIOState a(next.level(), next() % 4 == 0);
        TapIOState b(a.memory()->gain, a.memory()->muted != 0);
        TapIOState::Memory* memory = b.memory();
        const std::uint32_t cin = next() % 5;
        const std::uint32_t cout = next() % 5;
        PlanarCycleRunner planarRunner(makeTapIOBlock(a.memory()), cin, cout);
        PlanarCycleRunner interleaved(
            [memory](const AudioTimeStamp&, const AudioBufferList& input, const AudioTimeStamp&,
                     AudioBufferList& output,
                     const AudioTimeStamp&) { renderTap(input, output, memory); },
            cin, cout);
        ASSERT_TRUE(planarRunner.planar());
        ASSERT_FALSE(interleaved.planar());
        for (int c = 0, cycles = 1 + static_cast<int>(next() % 4); c < cycles; ++c) {
            const std::uint32_t frames = next() % 6 == 0    ? 8000 + next() % 12000
                                         : next() % 10 == 0 ? 0
                                                            : next() % 1100;
            auto length = [&] {
                const std::uint32_t kind = next() % 8;
                return kind == 0   ? next() % (frames + 1)
                       : kind == 1 ? frames + next() % 50
                                   : frames;
            };
            std::vector<std::vector<float>> inputs(cin);
            std::vector<PlanarChannel> in(cin);
            for (std::uint32_t ch = 0; ch < cin; ++ch) {
                inputs[ch].resize(length());
                for (float& x : inputs[ch]) {
                    x = next.sample();
                    x = next() % 200 == 0 ? std::numeric_limits<float>::quiet_NaN() : x;
                }
                if (next() % 12 != 0) {
                    in[ch] = {inputs[ch].data(), static_cast<std::uint32_t>(inputs[ch].size())};
                }
            }
            std::vector<std::vector<float>> real(cout);
            std::vector<std::vector<float>> expected(cout);
            std::vector<PlanarChannel> outReal(cout);
            std::vector<PlanarChannel> outExpected(cout);
            for (std::uint32_t ch = 0; ch < cout; ++ch) {
                const std::uint32_t room = length();
                real[ch].assign(room + 8, 3.0f); // past the room must stay untouched
                expected[ch] = real[ch];
                if (next() % 12 != 0) {
                    outReal[ch] = {real[ch].data(), room};
                    outExpected[ch] = {expected[ch].data(), room};
                }
            }
            const float target = next.level();
            const std::int32_t muted = next() % 5 == 0 ? 1 : 0;
            const std::int32_t passthrough = next() % 4 != 0 ? 1 : 0;
            for (TapIOState* s : {&a, &b}) {
                s->memory()->gain = target;
                s->memory()->muted = muted;
                s->memory()->passthrough = passthrough;
            }
            const AudioTimeStamp now{};
            planarRunner.run(now, {frames, in.data(), cin, outReal.data(), cout});
            interleaved.run(now, {frames, in.data(), cin, outExpected.data(), cout});
            const std::string where =
                "round " + std::to_string(round) + " cycle " + std::to_string(c);
            ASSERT_EQ(a.memory()->buffers, b.memory()->buffers) << where;
            ASSERT_EQ(a.memory()->nonzeroBuffers, b.memory()->nonzeroBuffers) << where;
            ASSERT_TRUE(sameBits(a.memory()->peak, b.memory()->peak)) << where;
            ASSERT_TRUE(sameBits(a.memory()->applied, b.memory()->applied)) << where;
            for (std::uint32_t ch = 0; ch < cout; ++ch) {
                ASSERT_EQ(std::memcmp(real[ch].data(), expected[ch].data(), real[ch].size() * 4), 0)
                    << where << " channel " << ch;
            }
        }
    }
}

} // namespace
} // namespace brindell
