#pragma once

#include "audio/AudioBuffers.h"
#include "audio/PlanarIO.h"
#include "tapengine/TapIOState.h"

namespace brindell {

// Ramp step per frame: a full swing from 0 to 1 takes 480 frames (10 ms at 48 kHz).
inline constexpr float rampStep = 1.0f / 480.0f;

// One IO cycle of a tapped application: silences the output, measures the tap buffer (the last
// buffer of input), and with passthrough on copies it to every output buffer with the gain
// ramped from applied toward the target by rampStep per frame.
//
// Runs on the real-time IO thread: no locks, no allocation, no calls into the program; it
// touches nothing but the buffers and *memory.
void renderTap(const AudioBufferList& input, AudioBufferList& output, TapIOState::Memory* memory);

// renderTap on the buffers a planar cycle stands for (see PlanarCycle), bit for bit, in one
// pass over the audio: each input channel is read once, measured and written out with the ramp.
void renderTapPlanar(const PlanarCycle& cycle, TapIOState::Memory* memory);

// The IOBlock the session manager hands to startIO, with its planar form: captures only the
// memory address.
IOBlock makeTapIOBlock(TapIOState::Memory* memory);

} // namespace brindell
