#include "app/AutoProof.h"
#include "app/CallbackBench.h"
#include "app/CommandLine.h"
#include "app/CrashReporting.h"
#include "app/CycleTest.h"
#include "app/Termination.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#ifndef BRINDELL_VERSION
#define BRINDELL_VERSION "0.0.0"
#endif

int main(int argc, char** argv) {
    using brindell::CommandLine;
    // First, before any thread: SIGTERM and SIGINT take the normal termination path below.
    brindell::Termination termination;
    brindell::AutoProof proof;
    termination.setHandler([&proof](int signo) {
        proof.stop();
        std::fflush(nullptr);
        std::_Exit(128 + signo);
    });
    // The termination path of every mode: stop the proof (with nothing made, it does nothing).
    // A signal from here on finds the program already ending.
    auto finish = [&proof, &termination](int code) {
        proof.stop();
        termination.setHandler(nullptr);
        return code;
    };
    CommandLine commandLine;
    try {
        commandLine = brindell::parseCommandLine({argv + 1, argv + argc});
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "brindell: %s\n", e.what());
        return finish(2);
    }
    switch (commandLine.mode) {
    case CommandLine::Mode::help:
        std::fputs(brindell::helpText().c_str(), stdout);
        return finish(0);
    case CommandLine::Mode::version:
        std::printf("brindell %s\n", BRINDELL_VERSION);
        return finish(0);
    case CommandLine::Mode::callbackBench:
        return finish(brindell::callbackBenchMain());
    case CommandLine::Mode::crashTest:
        return finish(brindell::crashTestMain(commandLine.crashTestAction));
    case CommandLine::Mode::cycleTest:
        // This mode watches for the signal itself and tears its sessions down on it.
        termination.setHandler(nullptr);
        return finish(brindell::cycleTestMain(commandLine.cycles, termination));
    case CommandLine::Mode::autoProof:
        // This mode waits for the signal itself and ends through the same path.
        termination.setHandler(nullptr);
        return finish(proof.run(commandLine.proofPid, termination));
    case CommandLine::Mode::launch:
        break;
    }
    // Before anything else starts a thread: crashes from here on are recorded for the next start.
    brindell::installCrashHandler();
    std::fputs("brindell: this build has no desktop shell yet; see brindell --help\n", stderr);
    return finish(1);
}
