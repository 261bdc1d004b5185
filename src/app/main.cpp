#include "app/AutoProof.h"
#include "app/CallbackBench.h"
#include "app/CommandLine.h"
#include "app/CrashReporting.h"
#include "app/CycleTest.h"
#include "app/MasterTest.h"
#include "app/RouteTest.h"
#include "app/SourceTest.h"
#include "app/Termination.h"
#include "shell/BrindellApp.h"
#include "shell/ControlClient.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#ifndef BRINDELL_VERSION
#define BRINDELL_VERSION "0.0.0"
#endif

namespace {

// The audio diagnostics that run until SIGTERM or SIGINT: the signal takes their normal
// termination path, which tears down what they made on the audio server.
int runAudioDiagnostic(const brindell::CommandLine& commandLine) {
    using brindell::CommandLine;
    // First, before any thread: it blocks both signals in every thread started later.
    brindell::Termination termination;
    brindell::AutoProof proof;
    // The termination path: stop the proof (with nothing made, it does nothing). A signal from
    // here on finds the program already ending.
    auto finish = [&proof, &termination](int code) {
        proof.stop();
        termination.setHandler(nullptr);
        return code;
    };
    if (commandLine.mode == CommandLine::Mode::cycleTest) {
        return finish(brindell::cycleTestMain(commandLine.cycles, termination));
    }
    if (commandLine.mode == CommandLine::Mode::masterTest) {
        return finish(brindell::masterTestMain(termination));
    }
    if (commandLine.mode == CommandLine::Mode::sourceTest) {
        return finish(brindell::sourceTestMain(commandLine.sourceTestSeconds, termination));
    }
    if (commandLine.mode == CommandLine::Mode::routeTest) {
        return finish(brindell::routeTestMain(commandLine.routePid, termination));
    }
    return finish(proof.run(commandLine.proofPid, termination));
}

} // namespace

int main(int argc, char** argv) {
    using brindell::CommandLine;
    CommandLine commandLine;
    try {
        commandLine = brindell::parseCommandLine({argv + 1, argv + argc});
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "brindell: %s\n", e.what());
        return 2;
    }
    const brindell::PreviewRequest preview{commandLine.previewState, commandLine.previewRows};
    const brindell::RenderLook look{commandLine.dark, commandLine.reduceTransparency,
                                    commandLine.increaseContrast};
    const std::string path = commandLine.outputPath.empty()
                                 ? brindell::defaultSnapshotPath(commandLine.mode)
                                 : commandLine.outputPath;
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
    case CommandLine::Mode::cycleTest:
    case CommandLine::Mode::masterTest:
    case CommandLine::Mode::autoProof:
    case CommandLine::Mode::sourceTest:
    case CommandLine::Mode::routeTest:
        return runAudioDiagnostic(commandLine);
    case CommandLine::Mode::mixerSnapshot:
        return brindell::runMixerSnapshot(argc, argv, path, look, preview);
    case CommandLine::Mode::panelSnapshot:
        return brindell::runPanelSnapshot(argc, argv, path, look, preview);
    case CommandLine::Mode::keyTest:
        return brindell::runKeyTest(argc, argv, preview);
    case CommandLine::Mode::settingsSnapshot:
        return brindell::runSettingsSnapshot(argc, argv, path, look);
    case CommandLine::Mode::onboardingSnapshot:
        return brindell::runOnboardingSnapshot(argc, argv, path, look);
    case CommandLine::Mode::control:
        return brindell::runControl(commandLine.controlArgs);
    case CommandLine::Mode::launch:
        break;
    }
    // Before anything else starts a thread: crashes from here on are recorded for the next start.
    // The shell takes SIGTERM, SIGINT and SIGHUP into its own termination path.
    brindell::installCrashHandler();
    return brindell::runBrindell(argc, argv, {commandLine.previewEngine, preview});
}
