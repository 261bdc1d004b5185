#pragma once

#include "mixer/MixerRecords.h"
#include "queue/Clock.h"

#include <map>

namespace brindell {

// What the panel draws of the rows' levels: a level rises at once to a louder reading and falls
// no faster than from full to nothing in fallTime, so a meter read 20 times a second neither
// flickers nor hangs. A row that has no reading (muted, not adjusted) shows nothing at once.
//
// Threading: confined to one thread (the main thread, in the view model). Times come from the
// caller's clock.
class LevelFalloff {
public:
    static constexpr Seconds fallTime = 0.3;

    // Takes a reading at now and returns what each row shows: one entry per row of measured,
    // 0 to 1.
    const MixerLevels& update(const MixerLevels& measured, Seconds now);
    // What update returned last.
    const MixerLevels& shown() const { return shown_; }
    // Forgets every level, as when the panel hides.
    void reset();

private:
    MixerLevels shown_;
    std::map<pid_type, Seconds> at_; // when each shown level was last set
};

} // namespace brindell
