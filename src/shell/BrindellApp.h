#pragma once

#include "mixer/PreviewContent.h"

#include <string>

// The process entry of the Qt shell and its diagnostic modes. Qt-free, so the executable's
// main needs nothing of Qt.
namespace brindell {

struct PreviewRequest {
    PreviewState state = PreviewState::canned;
    int extraRows = 0;
};

struct RenderLook {
    bool dark = false;
    bool reduceTransparency = false;
    bool increaseContrast = false;
};

struct LaunchOptions {
    // Temporary, until the live engine lands: run the tray and panel over the preview engine.
    bool previewEngine = false;
    PreviewRequest preview;
};

// A normal launch: one instance per session (a second launch opens the running one's settings
// window, or its panel without a tray icon, and exits 0), the tray icon and the panel, until the
// user quits or SIGTERM, SIGINT or SIGHUP arrive. Returns the exit status.
int runBrindell(int argc, char** argv, const LaunchOptions& options);

// The snapshot modes: the mixer view alone, or the panel as placed under a tray icon on a
// desktop, drawn over the preview engine to a PNG, headless. 0 on success; 1 with a message
// on standard error when the file cannot be written.
int runMixerSnapshot(int argc, char** argv, const std::string& path, RenderLook look,
                     PreviewRequest preview);
int runPanelSnapshot(int argc, char** argv, const std::string& path, RenderLook look,
                     PreviewRequest preview);

// The settings window with every section (crash reporting available, nothing stored) and the
// onboarding window with its crash-report opt-in, drawn to a PNG, headless. 0 on success; 1 with
// a message on standard error when the file cannot be written.
int runSettingsSnapshot(int argc, char** argv, const std::string& path, RenderLook look);
int runOnboardingSnapshot(int argc, char** argv, const std::string& path, RenderLook look);

// Drives the panel's key handling over the preview engine with a fixed list of keys and logs
// each key, whether it was used, the keyboard target and the values shown to keytest.log in
// the temporary directory. 0 when every key had the expected effect, 1 otherwise.
int runKeyTest(int argc, char** argv, PreviewRequest preview);

} // namespace brindell
