#include "audio/PlanarIO.h"

#include <algorithm>
#include <utility>

namespace brindell {

namespace {

// Both forms of one block; std::function finds it again by its type.
struct TwoForms {
    IOBlock interleaved;
    PlanarIOBlock planar;
    void operator()(const AudioTimeStamp& now, const AudioBufferList& input,
                    const AudioTimeStamp& inputTime, AudioBufferList& output,
                    const AudioTimeStamp& outputTime) const {
        interleaved(now, input, inputTime, output, outputTime);
    }
};

} // namespace

IOBlock withPlanarForm(IOBlock interleaved, PlanarIOBlock planar) {
    return TwoForms{std::move(interleaved), std::move(planar)};
}

const PlanarIOBlock* planarFormOf(const IOBlock& block) {
    const auto* forms = block.target<TwoForms>();
    return forms != nullptr && forms->planar ? &forms->planar : nullptr;
}

PlanarCycleRunner::PlanarCycleRunner(IOBlock block, std::uint32_t inputChannels,
                                     std::uint32_t outputChannels)
    : block_(std::move(block)), planar_(planarFormOf(block_)), pieceInputs_(inputChannels),
      pieceOutputs_(outputChannels) {
    if (planar_ == nullptr) {
        input_.assign(std::size_t{maxFrames} * std::max<std::size_t>(inputChannels, 1), 0.0f);
        output_.assign(std::size_t{maxFrames} * std::max<std::size_t>(outputChannels, 1), 0.0f);
    }
}

void PlanarCycleRunner::run(const AudioTimeStamp& now, const PlanarCycle& cycle) noexcept {
    if (cycle.frames == 0) {
        return;
    }
    if (cycle.frames <= maxFrames) {
        if (planar_ != nullptr) {
            (*planar_)(now, cycle);
        } else {
            runInterleaved(now, cycle);
        }
        return;
    }
    // A piece's channels start where the piece does; a channel keeps its data pointer (and so
    // its presence) even where its count has run out.
    auto cut = [](const PlanarChannel& channel, std::uint32_t start, std::uint32_t frames) {
        if (channel.count <= start) {
            return PlanarChannel{channel.data, 0};
        }
        return PlanarChannel{channel.data + start, std::min(frames, channel.count - start)};
    };
    for (std::uint32_t start = 0; start < cycle.frames; start += maxFrames) {
        const std::uint32_t frames = std::min(maxFrames, cycle.frames - start);
        for (std::uint32_t c = 0; c < cycle.inputChannels; ++c) {
            pieceInputs_[c] = cut(cycle.inputs[c], start, frames);
        }
        for (std::uint32_t c = 0; c < cycle.outputChannels; ++c) {
            pieceOutputs_[c] = cut(cycle.outputs[c], start, frames);
        }
        const PlanarCycle piece{frames, pieceInputs_.data(), cycle.inputChannels,
                                pieceOutputs_.data(), cycle.outputChannels};
        const AudioTimeStamp pieceTime{now.sampleTime + start, now.hostTime};
        if (planar_ != nullptr) {
            (*planar_)(pieceTime, piece);
        } else {
            runInterleaved(pieceTime, piece);
        }
    }
}

void PlanarCycleRunner::runInterleaved(const AudioTimeStamp& now,
                                       const PlanarCycle& piece) noexcept {
    const std::size_t inChannels = piece.inputChannels;
    const std::size_t outChannels = piece.outputChannels;
    const std::uint32_t frames = piece.frames;
    bool anyInput = false;
    for (std::size_t c = 0; c < inChannels; ++c) {
        const PlanarChannel& in = piece.inputs[c];
        anyInput = anyInput || in.data != nullptr;
        const std::uint32_t valid = in.data != nullptr ? std::min(frames, in.count) : 0;
        std::uint32_t i = 0;
        for (; i < valid; ++i) {
            input_[i * inChannels + c] = in.data[i];
        }
        for (; i < frames; ++i) {
            input_[i * inChannels + c] = 0.0f;
        }
    }
    // No input buffer at all means the tap delivered nothing this cycle, not silence.
    AudioBuffer inBuffer{static_cast<std::uint32_t>(inChannels),
                         static_cast<std::uint32_t>(frames * inChannels * sizeof(float)),
                         anyInput ? input_.data() : nullptr};
    AudioBuffer outBuffer{static_cast<std::uint32_t>(outChannels),
                          static_cast<std::uint32_t>(frames * outChannels * sizeof(float)),
                          output_.data()};
    AudioBufferList inList{1, &inBuffer};
    AudioBufferList outList{1, &outBuffer};
    block_(now, inList, now, outList, now);
    for (std::size_t c = 0; c < outChannels; ++c) {
        const PlanarChannel& out = piece.outputs[c];
        const std::uint32_t room = out.data != nullptr ? std::min(frames, out.count) : 0;
        for (std::uint32_t i = 0; i < room; ++i) {
            out.data[i] = output_[i * outChannels + c];
        }
    }
}

} // namespace brindell
