#include "queue/Clock.h"

#include <chrono>

namespace brindell {

Seconds SteadyClock::now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const SteadyClock& SteadyClock::shared() {
    static const SteadyClock clock;
    return clock;
}

} // namespace brindell
