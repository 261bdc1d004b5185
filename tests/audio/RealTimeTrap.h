#pragma once

#include <cstdint>

// Linked into the audio tests only: while an IO node's process cycle runs (between the hooks
// IONode calls), an allocation, a free or a pthread_mutex_lock on that thread prints what it
// was, with a stack trace under a sanitizer, and aborts.
extern "C" void brindell_realtime_enter();
extern "C" void brindell_realtime_leave();

namespace brindell::testing {

// Process cycles run under the trap so far, in any IO node of this process.
std::uint64_t realTimeCycles();

} // namespace brindell::testing
