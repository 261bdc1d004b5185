#include "app/CallbackBench.h"
#include "app/CommandLine.h"
#include "shell/BrindellApp.h"

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
    case CommandLine::Mode::mixerSnapshot:
        return brindell::runMixerSnapshot(argc, argv, path, look, preview);
    case CommandLine::Mode::panelSnapshot:
        return brindell::runPanelSnapshot(argc, argv, path, look, preview);
    case CommandLine::Mode::keyTest:
        return brindell::runKeyTest(argc, argv, preview);
    case CommandLine::Mode::launch:
        break;
    }
    return brindell::runBrindell(argc, argv, {commandLine.previewEngine, preview});
}
