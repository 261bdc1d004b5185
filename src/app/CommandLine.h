#pragma once

#include "mixer/PreviewContent.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brindell {

// What the command line asks for. Diagnostic switches replace the normal launch.
struct CommandLine {
    enum class Mode {
        launch,
        help,
        version,
        callbackBench,
        crashTest,
        autoProof,
        cycleTest,
        masterTest,
        routeTest,
        mixerSnapshot,
        panelSnapshot,
        keyTest,
        sourceTest,
        settingsSnapshot,
        onboardingSnapshot,
        control, // brindell ctl ...: a client of the running Brindell
    };
    Mode mode = Mode::launch;

    std::string crashTestAction; // --crashtest: "" (show stored crashes) or "crash"
    // --autoproof: the process to prove on; none picks the first other process playing audio.
    std::optional<std::int32_t> proofPid;
    int cycles = 0;               // --cycletest N
    double sourceTestSeconds = 0; // --sourcetest SECONDS
    std::int32_t routePid = 0;    // --routetest PID

    // The snapshot's PNG; empty: the mode's default file in the temporary directory.
    std::string outputPath;
    // Looks of snapshot renderings; alone they do not change a normal launch.
    bool dark = false;
    bool reduceTransparency = false;
    bool increaseContrast = false;
    // Preview content of the snapshots, the key diagnostic and the preview launch.
    PreviewState previewState = PreviewState::canned;
    int previewRows = 0;
    // A normal launch over sample apps instead of the audio server.
    bool previewEngine = false;
    // brindell ctl: the arguments after "ctl", parsed by the control's own grammar.
    std::vector<std::string> controlArgs;
};

// Parses argv (without the program name). Throws std::invalid_argument with a message for the
// user on an unknown switch or a bad argument.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// Where a snapshot goes when no path is given.
std::string defaultSnapshotPath(CommandLine::Mode mode);

std::string helpText();

} // namespace brindell
