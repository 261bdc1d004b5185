#include "tapengine/TapIOState.h"

#include "audio/Volume.h"

namespace brindell {

TapIOState::TapIOState(float gain, bool muted) : memory_(new Memory) {
    const float target = cleanVolume(gain, 0.0f);
    memory_->gain.store(target, std::memory_order_relaxed);
    memory_->muted.store(muted ? 1 : 0, std::memory_order_relaxed);
    memory_->applied.store(muted ? 0.0f : target, std::memory_order_relaxed);
}

TapIOState::~TapIOState() {
    delete memory_;
}

} // namespace brindell
