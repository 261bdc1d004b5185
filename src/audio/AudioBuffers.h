#pragma once

#include <cstdint>
#include <functional>

namespace brindell {

// One buffer of 32-bit float samples, interleaved. Its channel count is numberChannels with 0
// counted as 1; its frame count is dataByteSize / (channels * 4), rounded down.
struct AudioBuffer {
    std::uint32_t numberChannels = 0;
    std::uint32_t dataByteSize = 0;
    void* data = nullptr;
};

// A list of buffers; the list does not own them.
struct AudioBufferList {
    std::uint32_t numberBuffers = 0;
    AudioBuffer* buffers = nullptr;
};

struct AudioTimeStamp {
    double sampleTime = 0;
    std::uint64_t hostTime = 0;
};

// The render callback handed to startIO: (now, input, input time, output, output time).
// Runs on the device's real-time thread once per IO cycle: it must not allocate, lock, or call
// back into the program.
using IOBlock = std::function<void(const AudioTimeStamp& now, const AudioBufferList& input,
                                   const AudioTimeStamp& inputTime, AudioBufferList& output,
                                   const AudioTimeStamp& outputTime)>;

} // namespace brindell
