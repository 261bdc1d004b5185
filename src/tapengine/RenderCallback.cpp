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

IOBlock makeTapIOBlock(TapIOState::Memory* memory) {
    return [memory](const AudioTimeStamp&, const AudioBufferList& input, const AudioTimeStamp&,
                    AudioBufferList& output,
                    const AudioTimeStamp&) { renderTap(input, output, memory); };
}

} // namespace brindell
