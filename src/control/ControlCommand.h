#pragma once

#include "control/ControlValues.h"

#include <string>
#include <vector>

namespace brindell {

// One `brindell ctl` invocation, parsed from the arguments after "ctl".
struct ControlCommand {
    enum class Action {
        help,
        list,             // the apps in the mixer
        watch,            // one line per change of the apps, until interrupted
        setVolume,        // APP VOLUME
        mute,             // APP
        unmute,           // APP
        toggleMute,       // APP
        setOutput,        // APP DEVICE|default
        forget,           // APP
        forgetAll,        // --all
        outputs,          // the output devices
        master,           // show the system output
        setMasterVolume,  // VOLUME
        masterMute,       //
        masterUnmute,     //
        masterToggleMute, //
        defaultOutput,    // DEVICE
        toggle,           // the panel
        show,             // the panel, open
        settings,         // the settings window
    };

    Action action = Action::help;
    std::string app;
    VolumeChange volume;
    // The device as written; empty with followDefault for "default".
    std::string device;
    bool followDefault = false;
    bool json = false; // machine-readable output
};

// Throws ControlRequestError (invalidArgument) with one sentence for the user: an unknown
// command or option, a missing or extra argument, a malformed volume. Values that need the
// running Brindell (which app, which device) are checked there.
ControlCommand parseControlCommand(const std::vector<std::string>& args);

std::string controlHelpText();

} // namespace brindell
