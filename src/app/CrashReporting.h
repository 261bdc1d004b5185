#pragma once

#include "crash/CrashController.h"
#include "settings/SettingsStorage.h"

#include <memory>
#include <optional>
#include <string>

namespace brindell {

// The crash-intake endpoint this build was configured with (BRINDELL_CRASH_ENDPOINT); none when
// the build has none, and then crash reporting is unavailable.
std::optional<std::string> configuredCrashEndpoint();

// Installs the fatal-signal handler that records crashes of this build for the next start.
// Call first thing on the main thread, before other threads start. False when it could not be
// installed (no state folder); the program runs on without it.
bool installCrashHandler();

// The application's crash controller: consent kept in `consentStorage` (key "crashconsent"),
// diagnostics of earlier runs delivered from the crash folder on a thread of their own, reports
// posted with libcurl to the configured endpoint. Main thread.
std::shared_ptr<CrashController>
makeCrashController(std::shared_ptr<SettingsStorage> consentStorage);

// The --crashtest mode. With no argument it writes every stored crash diagnostic and the report
// it would make to crashtest.log in the temporary directory, sending and deleting nothing; with
// "crash" it installs the handler and crashes, leaving a diagnostic. Returns the exit code.
int crashTestMain(const std::string& action);

} // namespace brindell
