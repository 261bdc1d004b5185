#include "tapengine/TapIOState.h"

namespace brindell {

namespace {
float clampGain(float gain) {
    if (!(gain > 0.0f)) {
        return 0.0f; // also NaN
    }
    return gain > 1.0f ? 1.0f : gain;
}
} // namespace

TapIOState::TapIOState(float gain, bool muted) : memory_(new Memory) {
    const float target = clampGain(gain);
    memory_->gain.store(target, std::memory_order_relaxed);
    memory_->muted.store(muted ? 1 : 0, std::memory_order_relaxed);
    memory_->applied.store(muted ? 0.0f : target, std::memory_order_relaxed);
}

TapIOState::~TapIOState() {
    delete memory_;
}

} // namespace brindell
