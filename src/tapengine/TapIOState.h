#pragma once

#include <atomic>
#include <cstdint>

namespace brindell {

// The block of memory through which the control side and one render callback talk.
//
// Real-time contract: every field is a lock-free atomic accessed with relaxed single loads and
// stores only, no read-modify-write, no fences. Each field has exactly one writer once the IO
// procedure runs: the IO thread writes buffers, nonzeroBuffers, peak and applied; the control
// side writes passthrough, gain and muted. A change becomes audible in the next cycle that
// reads it; a counter read on the control side may lag by one cycle.
class TapIOState {
public:
    struct Memory {
        std::atomic<std::int64_t> buffers{0};        // cycles with a present tap buffer
        std::atomic<std::int64_t> nonzeroBuffers{0}; // of those, cycles whose peak was > 0
        std::atomic<float> peak{0};                  // peak of the most recent counted cycle
        std::atomic<std::int32_t> passthrough{0};    // 1: write the gained tap audio out
        std::atomic<float> gain{0};                  // target gain, 0 to 1
        std::atomic<std::int32_t> muted{0};          // 1: target gain is 0
        std::atomic<float> applied{0};               // gain the ramp reached last cycle
    };
    static_assert(std::atomic<std::int64_t>::is_always_lock_free);
    static_assert(std::atomic<std::int32_t>::is_always_lock_free);
    static_assert(std::atomic<float>::is_always_lock_free);

    // gain is cleaned with nothing in force (NaN is silence); applied starts at the
    // target so a fresh state needs no ramp.
    TapIOState(float gain, bool muted);
    ~TapIOState();
    TapIOState(const TapIOState&) = delete;
    TapIOState& operator=(const TapIOState&) = delete;

    // The block's address: fixed for the state's life, the only thing an IO block captures.
    Memory* memory() const { return memory_; }

private:
    Memory* memory_;
};

} // namespace brindell
