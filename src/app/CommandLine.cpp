#include "app/CommandLine.h"

#include "app/Diagnostics.h"

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string_view>

namespace brindell {

namespace {

// What a mode switch takes after it.
enum class Argument { none, optionalPath, crashAction, cycles, pid, requiredPid, seconds };

struct ModeSwitch {
    const char* name;
    CommandLine::Mode mode;
    Argument argument;
};

constexpr ModeSwitch modeSwitches[] = {
    {"--help", CommandLine::Mode::help, Argument::none},
    {"-h", CommandLine::Mode::help, Argument::none},
    {"--version", CommandLine::Mode::version, Argument::none},
    {"--callbackbench", CommandLine::Mode::callbackBench, Argument::none},
    {"--crashtest", CommandLine::Mode::crashTest, Argument::crashAction},
    {"--cycletest", CommandLine::Mode::cycleTest, Argument::cycles},
    {"--autoproof", CommandLine::Mode::autoProof, Argument::pid},
    {"--mastertest", CommandLine::Mode::masterTest, Argument::none},
    {"--routetest", CommandLine::Mode::routeTest, Argument::requiredPid},
    {"--mixer-snapshot", CommandLine::Mode::mixerSnapshot, Argument::optionalPath},
    {"--panel-snapshot", CommandLine::Mode::panelSnapshot, Argument::optionalPath},
    {"--keytest", CommandLine::Mode::keyTest, Argument::none},
    {"--sourcetest", CommandLine::Mode::sourceTest, Argument::seconds},
    {"--settings-snapshot", CommandLine::Mode::settingsSnapshot, Argument::optionalPath},
    {"--onboarding-snapshot", CommandLine::Mode::onboardingSnapshot, Argument::optionalPath},
};

// The longest --sourcetest run: a day.
constexpr double maxSourceTestSeconds = 86400;

bool isSwitch(const std::string& arg) {
    return arg.size() > 2 && arg.compare(0, 2, "--") == 0;
}

// Options the Qt application object takes for itself (QGuiApplication, QApplication and the
// xcb platform): each with one dash or two, some with their value after "=".
struct QtOption {
    const char* name; // without the leading dash
    bool takesValue;  // the value follows as the next argument
    bool equalsForm;  // "-name=value" is accepted too
};

constexpr QtOption qtOptions[] = {
    {"platform", true, false},
    {"platformpluginpath", true, false},
    {"platformtheme", true, false},
    {"plugin", true, false},
    {"qwindowgeometry", true, false},
    {"qwindowicon", true, false},
    {"qwindowtitle", true, false},
    {"session", true, false},
    {"display", true, false},
    {"geometry", true, false},
    {"title", true, false},
    {"icon", true, false},
    {"name", true, false},
    {"visual", true, false},
    {"style", true, true},
    {"stylesheet", true, true},
    {"qmljsdebugger", true, true},
    {"reverse", false, false},
    {"widgetcount", false, false},
    {"testability", false, false},
    {"nograb", false, false},
    {"dograb", false, false},
    {"sync", false, false},
};

// How many arguments from args[i] on are one Qt option with its value; 0 when args[i] is none.
std::size_t qtOptionLength(const std::vector<std::string>& args, std::size_t i) {
    std::string_view arg = args[i];
    if (arg.size() < 2 || arg[0] != '-') {
        return 0;
    }
    arg.remove_prefix(arg[1] == '-' ? 2 : 1);
    for (const auto& option : qtOptions) {
        const std::string_view name = option.name;
        if (arg == name) {
            // Qt takes the value even when it looks like a switch; a missing one it ignores.
            return option.takesValue && i + 1 < args.size() ? 2 : 1;
        }
        if (option.equalsForm && arg.size() > name.size() && arg.starts_with(name) &&
            arg[name.size()] == '=') {
            return 1;
        }
    }
    return 0;
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

std::int32_t processID(const char* mode, const std::string& text) {
    std::int32_t pid = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
    if (error != std::errc{} || end != text.data() + text.size() || pid <= 0) {
        throw std::invalid_argument("bad process id '" + text + "' after " + mode);
    }
    return pid;
}

// Reads the argument of a mode switch at args[i + 1], if the mode takes one; returns how many
// arguments it used.
std::size_t readModeArgument(const ModeSwitch& mode, const std::vector<std::string>& args,
                             std::size_t i, CommandLine& result) {
    const bool hasNext = i + 1 < args.size();
    const std::string next = hasNext ? args[i + 1] : "";
    switch (mode.argument) {
    case Argument::none:
        return 0;
    case Argument::optionalPath:
        // The path is optional: without one the snapshot goes to the temporary directory.
        if (hasNext && !isSwitch(next) && qtOptionLength(args, i + 1) == 0) {
            result.outputPath = next;
            return 1;
        }
        return 0;
    case Argument::crashAction:
        if (hasNext && !isSwitch(next)) {
            if (next != "crash") {
                throw std::invalid_argument("--crashtest takes no argument or 'crash', not '" +
                                            next + "'");
            }
            result.crashTestAction = next;
            return 1;
        }
        return 0;
    case Argument::cycles: {
        auto [end, error] = std::from_chars(next.data(), next.data() + next.size(), result.cycles);
        if (next.empty() || error != std::errc{} || end != next.data() + next.size() ||
            result.cycles <= 0) {
            throw std::invalid_argument("--cycletest needs a positive number of cycles, not '" +
                                        next + "'");
        }
        return 1;
    }
    case Argument::pid:
        if (hasNext && !isSwitch(next)) {
            result.proofPid = processID(mode.name, next);
            return 1;
        }
        return 0;
    case Argument::seconds: {
        double seconds = 0;
        auto [end, error] = std::from_chars(next.data(), next.data() + next.size(), seconds);
        if (next.empty() || error != std::errc{} || end != next.data() + next.size() ||
            !std::isfinite(seconds) || seconds <= 0 || seconds > maxSourceTestSeconds) {
            throw std::invalid_argument(
                "--sourcetest needs a positive number of seconds (at most 86400), not '" + next +
                "'");
        }
        result.sourceTestSeconds = seconds;
        return 1;
    }
    case Argument::requiredPid:
        if (!hasNext) {
            throw std::invalid_argument(std::string(mode.name) + " needs a process id");
        }
        result.routePid = processID(mode.name, next);
        return 1;
    }
    return 0;
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    if (!args.empty() && args.front() == "ctl") {
        // A command language of its own: "-5%" there is a value, not a switch.
        result.mode = CommandLine::Mode::control;
        result.controlArgs.assign(args.begin() + 1, args.end());
        return result;
    }
    std::string modeName;
    std::string previous; // what an unexpected argument came after
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasNext = i + 1 < args.size();
        // Qt's own options are Qt's: the application object reads them from the same argv.
        if (const std::size_t length = qtOptionLength(args, i); length > 0) {
            i += length - 1;
            previous = args[i];
            continue;
        }
        if (arg == "--dark") {
            result.dark = true;
        } else if (arg == "--reduce-transparency") {
            result.reduceTransparency = true;
        } else if (arg == "--increase-contrast") {
            result.increaseContrast = true;
        } else if (arg == "--preview-engine") {
            result.previewEngine = true;
        } else if (arg == "--preview-state") {
            if (!hasNext) {
                throw std::invalid_argument("--preview-state needs one of: " +
                                            joined(previewStateNames()));
            }
            const auto state = previewStateNamed(args[++i]);
            if (!state) {
                throw std::invalid_argument("unknown preview state '" + args[i] +
                                            "' (one of: " + joined(previewStateNames()) + ")");
            }
            result.previewState = *state;
        } else if (arg == "--preview-rows") {
            if (!hasNext) {
                throw std::invalid_argument("--preview-rows needs a count from 0 to " +
                                            std::to_string(maxExtraRows));
            }
            const std::string& value = args[++i];
            int count = -1;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), count);
            if (error != std::errc() || end != value.data() + value.size() || count < 0 ||
                count > maxExtraRows) {
                throw std::invalid_argument("--preview-rows needs a count from 0 to " +
                                            std::to_string(maxExtraRows) + ", not '" + value + "'");
            }
            result.previewRows = count;
        } else {
            const ModeSwitch* found = nullptr;
            for (const auto& candidate : modeSwitches) {
                if (arg == candidate.name) {
                    found = &candidate;
                }
            }
            if (found == nullptr) {
                if (!arg.empty() && arg.front() == '-') {
                    throw std::invalid_argument("unknown option '" + arg +
                                                "' (see brindell --help)");
                }
                throw std::invalid_argument("unexpected argument '" + arg + "'" +
                                            (previous.empty() ? "" : " after " + previous));
            }
            if (!modeName.empty()) {
                throw std::invalid_argument(modeName + " and " + arg + " cannot be combined");
            }
            modeName = arg;
            result.mode = found->mode;
            i += readModeArgument(*found, args, i, result);
            previous = args[i];
            continue;
        }
        previous = arg;
    }
    return result;
}

std::string defaultSnapshotPath(CommandLine::Mode mode) {
    const char* file = "mixer-snapshot.png";
    if (mode == CommandLine::Mode::panelSnapshot) {
        file = "panel-snapshot.png";
    } else if (mode == CommandLine::Mode::settingsSnapshot) {
        file = "settings-snapshot.png";
    } else if (mode == CommandLine::Mode::onboardingSnapshot) {
        file = "onboarding-snapshot.png";
    }
    return temporaryDirectory() + "/" + file;
}

std::string helpText() {
    return "Usage: brindell [OPTION]...\n"
           "Per-application volume, mute and output device for the desktop.\n"
           "\n"
           "Without an option, brindell starts in the tray. A second launch opens the running\n"
           "one's settings window.\n"
           "\n"
           "Options:\n"
           "  --help            show this help and exit\n"
           "  --version         show the version and exit\n"
           "  --preview-engine  run the tray and panel with sample apps instead of the audio\n"
           "                    server\n"
           "  ctl COMMAND       control the running brindell: list, set-volume APP 40%,\n"
           "                    mute APP, toggle, ... (see brindell ctl --help)\n"
           "\n"
           "Qt's own options, such as -platform NAME, -style NAME or -session ID, go to Qt.\n"
           "\n"
           "Diagnostics (each writes to $TMPDIR, else /tmp, and exits):\n"
           "  --callbackbench   time the render callback on 512 stereo frames\n"
           "  --crashtest       show stored crash diagnostics and the reports they make\n"
           "  --crashtest crash crash on purpose, leaving a diagnostic for the next start\n"
           "  --cycletest N     start, confirm, turn down and stop a tap session N times on\n"
           "                    the first other app playing; cycletest.log\n"
           "  --autoproof [PID] prove that an app's audio can be tapped and played through\n"
           "                    (PID, else the first other app playing); autoproof.log\n"
           "  --mastertest      set the default output's volume and mute, switch to each other\n"
           "                    output and back, then restore them; mastertest.log\n"
           "  --routetest PID   send the app of PID to each output in turn for 2 s, then\n"
           "                    back to the default; routetest.log\n"
           "  --mixer-snapshot [PATH]  draw the mixer with sample apps to a PNG\n"
           "                    (default mixer-snapshot.png)\n"
           "  --panel-snapshot [PATH]  draw the panel under a tray icon on a desktop to a PNG\n"
           "                    (default panel-snapshot.png)\n"
           "  --keytest         drive the panel's keys over sample apps; log keytest.log\n"
           "  --sourcetest SECONDS  list the apps playing audio for SECONDS seconds, one line\n"
           "                    per change of the list; sourcetest.log\n"
           "  --settings-snapshot [PATH]    draw the settings window to a PNG\n"
           "                    (default settings-snapshot.png)\n"
           "  --onboarding-snapshot [PATH]  draw the welcome window to a PNG\n"
           "                    (default onboarding-snapshot.png)\n"
           "\n"
           "For the snapshots, the key diagnostic and --preview-engine:\n"
           "  --dark                 dark appearance (all snapshots)\n"
           "  --reduce-transparency  opaque panel background\n"
           "  --increase-contrast    stronger edges and secondary text\n"
           "  --preview-state NAME   canned, granted, denied (the permission banner), no-output,\n"
           "                         fixed-volume or empty\n"
           "  --preview-rows N       N more sample apps (0 to 200), for a list that scrolls\n";
}

} // namespace brindell
