#include "tapengine/RenderCallback.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace brindell {

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

std::size_t channelsOf(const AudioBuffer& buffer) {
    return buffer.numberChannels == 0 ? 1 : buffer.numberChannels;
}

std::size_t framesOf(const AudioBuffer& buffer, std::size_t channels) {
    return buffer.dataByteSize / (channels * sizeof(float));
}

// Largest absolute value, starting from 0; a NaN sample never replaces the running maximum.
float peakOf(const float* __restrict samples, std::size_t count) {
    float peak = 0.0f;
    std::size_t i = 0;
#if defined(__SSE2__)
    // _mm_max_ps(x, m) is (x > m ? x : m), so a NaN in x keeps m, exactly as the scalar rule.
    const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    __m128 m0 = _mm_setzero_ps();
    __m128 m1 = _mm_setzero_ps();
    for (; i + 8 <= count; i += 8) {
        m0 = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(samples + i), absMask), m0);
        m1 = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(samples + i + 4), absMask), m1);
    }
    alignas(16) float lanes[8];
    _mm_store_ps(lanes, m0);
    _mm_store_ps(lanes + 4, m1);
    for (const float lane : lanes) {
        peak = lane > peak ? lane : peak;
    }
#endif
    for (; i < count; ++i) {
        const float x = samples[i] < 0.0f ? -samples[i] : samples[i];
        peak = x > peak ? x : peak;
    }
    return peak;
}

inline void stepToward(float& gain, float target) {
    if (gain < target) {
        gain = std::min(gain + rampStep, target);
    } else if (gain > target) {
        gain = std::max(gain - rampStep, target);
    }
}

void scale(const float* __restrict in, float* __restrict out, std::size_t count, float gain) {
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = in[i] * gain;
    }
}

// Writes frames [0, frames) of one output buffer; returns the gain reached.
float writeRamped(const float* __restrict in, std::size_t inChannels, float* __restrict out,
                  std::size_t outChannels, std::size_t frames, std::size_t channels, float gain,
                  float target) {
    std::size_t frame = 0;
    // While ramping, every frame has its own gain, stepped before the frame is written.
    for (; frame < frames && gain != target; ++frame) {
        stepToward(gain, target);
        for (std::size_t c = 0; c < channels; ++c) {
            out[frame * outChannels + c] = in[frame * inChannels + c] * gain;
        }
    }
    if (frame == frames) {
        return gain;
    }
    // At the target the gain no longer changes: one constant multiply for the rest.
    if (channels == inChannels && channels == outChannels) {
        scale(in + frame * inChannels, out + frame * outChannels, (frames - frame) * channels,
              gain);
    } else {
        for (; frame < frames; ++frame) {
            for (std::size_t c = 0; c < channels; ++c) {
                out[frame * outChannels + c] = in[frame * inChannels + c] * gain;
            }
        }
    }
    return gain;
}

inline float larger(float x, float peak) {
    return x > peak ? x : peak;
}

// out[i] = in[i] * gain for i < count, returning the peak of in[0, count) as peakOf does.
float scaleMeasuring(const float* __restrict in, float* __restrict out, std::size_t count,
                     float gain) {
    float peak = 0.0f;
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    const __m128 g = _mm_set1_ps(gain);
    __m128 m0 = _mm_setzero_ps();
    __m128 m1 = _mm_setzero_ps();
    for (; i + 8 <= count; i += 8) {
        const __m128 x0 = _mm_loadu_ps(in + i);
        const __m128 x1 = _mm_loadu_ps(in + i + 4);
        m0 = _mm_max_ps(_mm_and_ps(x0, absMask), m0);
        m1 = _mm_max_ps(_mm_and_ps(x1, absMask), m1);
        _mm_storeu_ps(out + i, _mm_mul_ps(x0, g));
        _mm_storeu_ps(out + i + 4, _mm_mul_ps(x1, g));
    }
    alignas(16) float lanes[8];
    _mm_store_ps(lanes, m0);
    _mm_store_ps(lanes + 4, m1);
    for (const float lane : lanes) {
        peak = larger(lane, peak);
    }
#endif
    for (; i < count; ++i) {
        const float x = in[i];
        out[i] = x * gain;
        peak = larger(x < 0.0f ? -x : x, peak);
    }
    return peak;
}

// One output channel of a passthrough cycle fed by one tap channel: out[i] = x[i] * g[i] for
// i < room, where x is in[0, valid) followed by zeros and g is the ramp from start, stepped
// before each frame. Returns the peak of in[0, valid).
float writeChannel(const float* __restrict in, std::size_t valid, float* __restrict out,
                   std::size_t room, float start, float target) {
    const std::size_t both = std::min(valid, room);
    float gain = start;
    float peak = 0.0f;
    std::size_t i = 0;
    for (; i < both && gain != target; ++i) {
        stepToward(gain, target);
        const float x = in[i];
        out[i] = x * gain;
        peak = larger(x < 0.0f ? -x : x, peak);
    }
    if (i < both) {
        peak = larger(scaleMeasuring(in + i, out + i, both - i, gain), peak);
        i = both;
    }
    if (valid > both) {
        peak = larger(peakOf(in + both, valid - both), peak);
    }
    // Past the tap's samples the interleaved buffer holds zeros, still multiplied by the gain.
    for (; i < room && gain != target; ++i) {
        stepToward(gain, target);
        out[i] = 0.0f * gain;
    }
    const float zero = 0.0f * gain;
    for (; i < room; ++i) {
        out[i] = zero;
    }
    return peak;
}

// The gain the ramp reaches after frames steps.
float rampedOver(float gain, float target, std::size_t frames) {
    for (std::size_t i = 0; i < frames && gain != target; ++i) {
        stepToward(gain, target);
    }
    return gain;
}

void silence(AudioBuffer& buffer, std::size_t fromByte) {
    if (fromByte < buffer.dataByteSize) {
        std::memset(static_cast<char*>(buffer.data) + fromByte, 0, buffer.dataByteSize - fromByte);
    }
}

} // namespace

void renderTap(const AudioBufferList& input, AudioBufferList& output, TapIOState::Memory* memory) {
    const AudioBuffer* tap =
        input.numberBuffers > 0 ? &input.buffers[input.numberBuffers - 1] : nullptr;
    if (tap == nullptr || tap->data == nullptr) {
        for (std::uint32_t b = 0; b < output.numberBuffers; ++b) {
            if (output.buffers[b].data != nullptr) {
                silence(output.buffers[b], 0);
            }
        }
        return;
    }

    const std::size_t inChannels = channelsOf(*tap);
    const std::size_t inFrames = framesOf(*tap, inChannels);
    const auto* in = static_cast<const float*>(tap->data);
    const float peak = inFrames == 0 ? 0.0f : peakOf(in, inFrames * inChannels);
    memory->buffers.store(memory->buffers.load(relaxed) + 1, relaxed);
    if (peak > 0.0f) {
        memory->nonzeroBuffers.store(memory->nonzeroBuffers.load(relaxed) + 1, relaxed);
    }
    memory->peak.store(peak, relaxed);

    const bool passthrough = memory->passthrough.load(relaxed) != 0;
    const float start = memory->applied.load(relaxed);
    const float target = memory->muted.load(relaxed) != 0 ? 0.0f : memory->gain.load(relaxed);
    float gain = start;
    for (std::uint32_t b = 0; b < output.numberBuffers; ++b) {
        AudioBuffer& buffer = output.buffers[b];
        if (buffer.data == nullptr) {
            continue;
        }
        if (!passthrough) {
            silence(buffer, 0);
            continue;
        }
        const std::size_t outChannels = channelsOf(buffer);
        const std::size_t frames = std::min(framesOf(buffer, outChannels), inFrames);
        const std::size_t channels = std::min(outChannels, inChannels);
        auto* out = static_cast<float*>(buffer.data);
        // Silence what the copy leaves untouched (all of it when channels are dropped from a
        // frame), then write the copied frames.
        silence(buffer, channels == outChannels ? frames * outChannels * sizeof(float) : 0);
        gain = writeRamped(in, inChannels, out, outChannels, frames, channels, start, target);
    }
    if (passthrough) {
        memory->applied.store(gain, relaxed);
    }
}

void renderTapPlanar(const PlanarCycle& cycle, TapIOState::Memory* memory) {
    const std::size_t frames = cycle.frames;
    const auto countOf = [frames](const PlanarChannel& channel) -> std::size_t {
        return channel.data != nullptr ? std::min<std::size_t>(channel.count, frames) : 0;
    };
    const auto silenceAll = [&](std::uint32_t from) {
        for (std::uint32_t c = from; c < cycle.outputChannels; ++c) {
            const PlanarChannel& out = cycle.outputs[c];
            if (out.data != nullptr) {
                std::memset(out.data, 0, countOf(out) * sizeof(float));
            }
        }
    };
    const bool present =
        std::any_of(cycle.inputs, cycle.inputs + cycle.inputChannels,
                    [](const PlanarChannel& channel) { return channel.data != nullptr; });
    if (!present) {
        silenceAll(0);
        return;
    }

    const bool passthrough = memory->passthrough.load(relaxed) != 0;
    const float start = memory->applied.load(relaxed);
    const float target = memory->muted.load(relaxed) != 0 ? 0.0f : memory->gain.load(relaxed);
    float peak = 0.0f;
    for (std::uint32_t c = 0; c < cycle.inputChannels; ++c) {
        const PlanarChannel& in = cycle.inputs[c];
        const std::size_t valid = countOf(in);
        if (passthrough && c < cycle.outputChannels && cycle.outputs[c].data != nullptr) {
            const PlanarChannel& out = cycle.outputs[c];
            peak =
                larger(writeChannel(in.data, valid, out.data, countOf(out), start, target), peak);
        } else if (valid > 0) {
            peak = larger(peakOf(in.data, valid), peak);
        }
    }
    // Output channels the tap has none for, or all of them when not passing through.
    silenceAll(passthrough ? cycle.inputChannels : 0);

    memory->buffers.store(memory->buffers.load(relaxed) + 1, relaxed);
    if (peak > 0.0f) {
        memory->nonzeroBuffers.store(memory->nonzeroBuffers.load(relaxed) + 1, relaxed);
    }
    memory->peak.store(peak, relaxed);
    // The interleaved output buffer of no channels holds no frame: the ramp does not move.
    if (passthrough) {
        memory->applied.store(cycle.outputChannels > 0 ? rampedOver(start, target, frames) : start,
                              relaxed);
    }
}

IOBlock makeTapIOBlock(TapIOState::Memory* memory) {
    return withPlanarForm([memory](const AudioTimeStamp&, const AudioBufferList& input,
                                   const AudioTimeStamp&, AudioBufferList& output,
                                   const AudioTimeStamp&) { renderTap(input, output, memory); },
                          [memory](const AudioTimeStamp&, const PlanarCycle& cycle) {
                              renderTapPlanar(cycle, memory);
                          });
}

} // namespace brindell
