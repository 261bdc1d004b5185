#include "mixer/LevelFalloff.h"

#include <algorithm>

namespace brindell {

namespace {

float clean(float level) {
    return level > 0.0f ? std::min(level, 1.0f) : 0.0f; // also NaN
}

} // namespace

const MixerLevels& LevelFalloff::update(const MixerLevels& measured, Seconds now) {
    MixerLevels shown;
    std::map<pid_type, Seconds> at;
    for (const auto& [pid, reading] : measured) {
        float level = clean(reading);
        const auto before = shown_.find(pid);
        if (before != shown_.end()) {
            // A clock that went backwards holds the level rather than raising it.
            const Seconds elapsed = std::max(0.0, now - at_[pid]);
            const auto fallen =
                static_cast<float>(static_cast<double>(before->second) - elapsed / fallTime);
            level = std::max(level, fallen);
        }
        shown[pid] = level;
        at[pid] = now;
    }
    shown_ = std::move(shown);
    at_ = std::move(at);
    return shown_;
}

void LevelFalloff::reset() {
    shown_.clear();
    at_.clear();
}

} // namespace brindell
