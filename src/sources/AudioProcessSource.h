#pragma once

#include "audio/AudioHardwareError.h"
#include "sources/AudioSourceRecords.h"

#include <functional>
#include <vector>

namespace brindell {

// Where the audio process objects come from.
class AudioProcessSource {
public:
    using ChangeCallback = std::function<void()>;

    virtual ~AudioProcessSource() = default;

    // Every process object, in the platform's order. Callable from any thread; keeps no state
    // the caller can see. Throws AudioHardwareError when the list cannot be read.
    virtual std::vector<AudioProcessInfo> processes() = 0;

    // Called on the source's own listener queue whenever the list of process objects, or the
    // running state of a listed process, changes; none stops the calls. Thread-safe. Only the
    // source monitor sets it.
    virtual void setOnChange(ChangeCallback callback) = 0;
};

} // namespace brindell
