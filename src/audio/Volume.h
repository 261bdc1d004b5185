#pragma once

namespace brindell {

// The one rule for every volume from the user, a stored file or the audio server, 0 to 1.
// NaN is no value at all: the volume in force stays, so bad input can neither blast (NaN as
// full) nor wipe what the user set (NaN as silence). Then anything at or below 0 is +0 (-inf
// and -0 too, so a stored "0" never reads "-0") and anything above 1 is 1. With nothing in
// force, callers pass the level that is safe there: 1 (the app unchanged) for an app's
// remembered volume, 0 for a level about to reach the speakers. Branch-only, so the real-time
// thread may call it.
constexpr float cleanVolume(float value, float inForce) noexcept {
    const float v = value != value ? inForce : value;
    if (!(v > 0.0f)) {
        return 0.0f; // also a NaN in force
    }
    return v < 1.0f ? v : 1.0f;
}

} // namespace brindell
