#pragma once

#include "crash/CrashDiagnosticStore.h"

#include <filesystem>
#include <string>

namespace brindell {

struct CrashHandlerInfo {
    std::string version; // the running build's marketing version
    std::string build;   // its build number
    std::filesystem::path directory = CrashDiagnosticStore::defaultDirectory();
};

// Installs the process-wide handler of the fatal signals SEGV, BUS, ILL, FPE, TRAP and ABRT.
// On a crash it writes a diagnostic (crashed thread's frames with image names, build UUIDs and
// offsets; signal; versions) into the folder, then lets the signal end the process as it would
// have. CrashDiagnostics delivers it at the next start.
//
// Call once, early, from the main thread, preferably before other threads start: it prepares
// the folder, reads everything the handler needs, and gives the calling thread an alternate
// signal stack so that a stack overflow there is caught too. Replaces earlier handlers of those
// signals. False, installing nothing, when the folder cannot be prepared or a handler is
// already installed.
bool installCrashSignalHandler(const CrashHandlerInfo& info);

} // namespace brindell
