#pragma once

namespace brindell {

// Seconds as 64-bit floats, as every time in the program.
using Seconds = double;

// An injectable source of monotonic time. Thread-safe.
class Clock {
public:
    virtual ~Clock() = default;
    virtual Seconds now() const = 0;
};

// Monotonic wall time (std::chrono::steady_clock), the clock of the thread-backed queue.
class SteadyClock final : public Clock {
public:
    Seconds now() const override;
    static const SteadyClock& shared();
};

} // namespace brindell
