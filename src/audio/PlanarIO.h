#pragma once

#include "audio/AudioBuffers.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace brindell {

// One channel's samples for one cycle, as a graph that keeps every channel in a buffer of its
// own hands them over. For an input, count is how many samples are valid; for an output, how
// many may be written. data is null when the channel has no buffer this cycle.
struct PlanarChannel {
    float* data = nullptr;
    std::uint32_t count = 0;
};

// One IO cycle of frames frames in planar form. It stands for one interleaved tap buffer of
// inputChannels channels and frames frames (channel c: inputs[c] up to its count, then zeros; a
// channel without data all zeros), absent when no input channel has data, and one interleaved
// output buffer of outputChannels channels and frames frames, of which each channel's first
// count samples (at most frames) reach outputs[c] and the rest is dropped.
struct PlanarCycle {
    std::uint32_t frames = 0;
    const PlanarChannel* inputs = nullptr;
    std::uint32_t inputChannels = 0;
    const PlanarChannel* outputs = nullptr;
    std::uint32_t outputChannels = 0;
};

// An IO block's planar form: must render exactly what the interleaved form renders for the
// buffers the cycle stands for. Same real-time contract as IOBlock.
using PlanarIOBlock = std::function<void(const AudioTimeStamp& now, const PlanarCycle& cycle)>;

// An IOBlock that calls interleaved and also carries planar, for hardware whose buffers are
// planar; everything else calls it as any IOBlock.
IOBlock withPlanarForm(IOBlock interleaved, PlanarIOBlock planar);
// The planar form of a block made by withPlanarForm, or null.
const PlanarIOBlock* planarFormOf(const IOBlock& block);

// Runs an IO block over planar cycles: through its planar form where it has one, otherwise
// through interleaved buffers it copies the channels into and out of. Either way a cycle longer
// than maxFrames runs in pieces of at most maxFrames, the gain ramp and the counters carrying
// on from one piece to the next as from one cycle to the next.
//
// Sized at construction; run touches only the cycle's buffers and memory allocated here, and
// of each channel no more than its count.
class PlanarCycleRunner {
public:
    // The frames of one piece: the default quantum limit.
    static constexpr std::uint32_t maxFrames = 8192;

    PlanarCycleRunner(IOBlock block, std::uint32_t inputChannels, std::uint32_t outputChannels);
    // planar_ points into block_.
    PlanarCycleRunner(const PlanarCycleRunner&) = delete;
    PlanarCycleRunner& operator=(const PlanarCycleRunner&) = delete;

    // cycle's channel counts must be the ones given at construction. Does nothing for an empty
    // cycle.
    void run(const AudioTimeStamp& now, const PlanarCycle& cycle) noexcept;

    bool planar() const { return planar_ != nullptr; }

private:
    void runInterleaved(const AudioTimeStamp& now, const PlanarCycle& piece) noexcept;

    const IOBlock block_;
    const PlanarIOBlock* planar_;
    std::vector<PlanarChannel> pieceInputs_;
    std::vector<PlanarChannel> pieceOutputs_;
    std::vector<float> input_;  // interleaved tap audio, without a planar form only
    std::vector<float> output_; // interleaved device audio, likewise
};

} // namespace brindell
