#include "app/CallbackBench.h"
#include "app/CommandLine.h"
#include "app/CrashReporting.h"

#include <cstdio>
#include <stdexcept>

#ifndef BRINDELL_VERSION
#define BRINDELL_VERSION "0.0.0"
#endif

int main(int argc, char** argv) {
    using brindell::CommandLine;
    CommandLine commandLine;
    try {
        commandLine = brindell::parseCommandLine({argv + 1, argv + argc});
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "brindell: %s\n", e.what());
        return 2;
    }
    switch (commandLine.mode) {
    case CommandLine::Mode::help:
        std::fputs(brindell::helpText().c_str(), stdout);
        return 0;
    case CommandLine::Mode::version:
        std::printf("brindell %s\n", BRINDELL_VERSION);
        return 0;
    case CommandLine::Mode::callbackBench:
        return brindell::callbackBenchMain();
    case CommandLine::Mode::crashTest:
        return brindell::crashTestMain(commandLine.crashTestAction);
    case CommandLine::Mode::launch:
        break;
    }
    // Before anything else starts a thread: crashes from here on are recorded for the next start.
    brindell::installCrashHandler();
    std::fputs("brindell: this build has no desktop shell yet; see brindell --help\n", stderr);
    return 1;
}
