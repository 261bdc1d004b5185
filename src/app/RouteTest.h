#pragma once

#include "audio/AudioRecords.h"

namespace brindell {

class Termination;

// The --routetest PID mode: runs the live engine, sends the application of `pid` to every
// output in turn for two seconds each, then back to the system default, and logs each step
// with the row's output and status to routetest.log in the temporary directory. A stop signal
// ends it early through the engine's stop. 0 when every step was applied, 1 otherwise.
int routeTestMain(pid_type pid, Termination& termination);

} // namespace brindell
