#pragma once

#include "app/Termination.h"

namespace brindell {

// The --mastertest mode: drives the master controls of the default output through the output
// device controller over PipeWire, on a real serial queue. It logs the starting state, sets the
// volume to 0.3, mutes, unmutes, makes each other output the default and then the first one
// again, and restores the starting volume and mute. Every state the controller publishes and
// every step's outcome go to mastertest.log in the temporary directory. Exit code 0 when every
// step was seen to take effect and the starting state is back. A stop signal ends it early.
int masterTestMain(Termination& termination);

} // namespace brindell
