#pragma once

#include "mixer/PreviewContent.h"

#include <optional>
#include <string>
#include <vector>

namespace brindell {

// What the command line asks for. Diagnostic switches replace the normal launch.
struct CommandLine {
    enum class Mode { launch, help, version, callbackBench, mixerSnapshot, panelSnapshot, keyTest };
    Mode mode = Mode::launch;

    // The snapshot's PNG; empty: the mode's default file in the temporary directory.
    std::string outputPath;
    // Looks of snapshot renderings; alone they do not change a normal launch.
    bool dark = false;
    bool reduceTransparency = false;
    bool increaseContrast = false;
    // Preview content of the snapshots, the key diagnostic and the preview launch.
    PreviewState previewState = PreviewState::canned;
    int previewRows = 0;
    // Temporary, until the live engine lands: a normal launch over the preview engine.
    bool previewEngine = false;
};

// Parses argv (without the program name). Throws std::invalid_argument with a message for the
// user on an unknown switch or a bad argument.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// Where a snapshot goes when no path is given.
std::string defaultSnapshotPath(CommandLine::Mode mode);

std::string helpText();

} // namespace brindell
