#pragma once

#include "app/Termination.h"
#include "sources/AudioSourceRecords.h"

#include <string>
#include <vector>

namespace brindell {

// The --sourcetest SECONDS mode: the source monitor over the production parts (the PipeWire
// process source, the workspace's grouper and app info provider) for that many seconds, polling
// every 3 seconds and at every change the source reports. Each published list is appended to
// sourcetest.log in the temporary directory (emptied first) and printed. Exit code 0, or 1 when
// the audio server could not be reached. A stop signal ends it early.
int sourceTestMain(double seconds, Termination& termination);

// One published list as its log line: the seconds since the start, then for each source in
// order its quoted name, pid, bundle id or "-", and member pids joined by ",", sources
// separated by "; ". "none" for an empty list.
std::string sourceListLine(double elapsed, const std::vector<AudioSource>& sources);

} // namespace brindell
