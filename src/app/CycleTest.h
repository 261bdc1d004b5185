#pragma once

#include "app/Termination.h"

namespace brindell {

// The --cycletest N mode: N tap session cycles on the first other process playing audio, each
// start, wait for active, volume 0.5, stop, through the session manager over PipeWire on a real
// serial queue. One line per cycle and a closing count go to cycletest.log in the temporary
// directory. Exit code 0 when every cycle got active and nothing of ours is left in the graph.
// A stop signal ends it early through the same teardown.
int cycleTestMain(int cycles, Termination& termination);

} // namespace brindell
