#include "control/ControlCommand.h"

#include <array>

namespace brindell {

namespace {

using Action = ControlCommand::Action;

[[noreturn]] void bad(const std::string& message) {
    throw ControlRequestError(ControlRequestError::Kind::invalidArgument, message);
}

struct Verb {
    const char* name;
    Action action;
    const char* usage; // the operands, for messages
    std::size_t operands;
};

constexpr std::array verbs = {
    Verb{"list", Action::list, "", 0},
    Verb{"watch", Action::watch, "", 0},
    Verb{"set-volume", Action::setVolume, "APP VOLUME", 2},
    Verb{"mute", Action::mute, "APP", 1},
    Verb{"unmute", Action::unmute, "APP", 1},
    Verb{"toggle-mute", Action::toggleMute, "APP", 1},
    Verb{"set-output", Action::setOutput, "APP DEVICE|default", 2},
    Verb{"forget", Action::forget, "APP|--all", 1},
    Verb{"outputs", Action::outputs, "", 0},
    Verb{"master", Action::master, "[VOLUME|mute|unmute|toggle-mute]", 1},
    Verb{"default-output", Action::defaultOutput, "DEVICE", 1},
    Verb{"toggle", Action::toggle, "", 0},
    Verb{"show", Action::show, "", 0},
    Verb{"settings", Action::settings, "", 0},
    Verb{"help", Action::help, "", 0},
};

std::string usageOf(const Verb& verb) {
    return std::string("brindell ctl ") + verb.name + (*verb.usage ? " " : "") + verb.usage;
}

} // namespace

ControlCommand parseControlCommand(const std::vector<std::string>& args) {
    ControlCommand command;
    bool all = false;
    bool help = false;
    std::vector<std::string> words;
    for (const auto& arg : args) {
        if (arg == "--json") {
            command.json = true;
        } else if (arg == "--all") {
            all = true;
        } else if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            bad("Unknown option \"" + arg + "\"; see brindell ctl --help.");
        } else {
            // Single-dash words stay operands: "-5%" is a volume change.
            words.push_back(arg);
        }
    }
    if (help) {
        command.action = Action::help;
        return command;
    }
    if (words.empty()) {
        bad("Name a command, such as list or set-volume; see brindell ctl --help.");
    }
    const Verb* verb = nullptr;
    for (const auto& candidate : verbs) {
        if (words.front() == candidate.name) {
            verb = &candidate;
        }
    }
    if (verb == nullptr) {
        bad("Unknown command \"" + words.front() + "\"; see brindell ctl --help.");
    }
    command.action = verb->action;
    const std::vector<std::string> operands(words.begin() + 1, words.end());

    if (verb->action == Action::forget) {
        if (all && operands.empty()) {
            command.action = Action::forgetAll;
            return command;
        }
        if (all || operands.size() != 1) {
            bad("Use: brindell ctl forget APP, or brindell ctl forget --all.");
        }
        if (operands.front().empty()) {
            bad("Name an app by its pid or its application id.");
        }
        command.app = operands.front();
        return command;
    }
    if (all) {
        bad("--all goes with forget only.");
    }
    if (verb->action == Action::master) {
        if (operands.size() > 1) {
            bad("Use: " + usageOf(*verb) + ".");
        }
        if (operands.empty()) {
            return command;
        }
        const std::string& what = operands.front();
        if (what == "mute") {
            command.action = Action::masterMute;
        } else if (what == "unmute") {
            command.action = Action::masterUnmute;
        } else if (what == "toggle-mute") {
            command.action = Action::masterToggleMute;
        } else {
            command.action = Action::setMasterVolume;
            command.volume = parseVolume(what);
        }
        return command;
    }
    if (operands.size() != verb->operands) {
        bad("Use: " + usageOf(*verb) + ".");
    }
    switch (verb->action) {
    case Action::setVolume:
        command.app = operands[0];
        command.volume = parseVolume(operands[1]);
        break;
    case Action::mute:
    case Action::unmute:
    case Action::toggleMute:
        command.app = operands[0];
        break;
    case Action::setOutput:
        command.app = operands[0];
        if (operands[1] == "default") {
            command.followDefault = true;
        } else {
            command.device = operands[1];
        }
        break;
    case Action::defaultOutput:
        command.device = operands[0];
        break;
    default:
        break;
    }
    const bool takesApp = verb->action == Action::setVolume || verb->action == Action::mute ||
                          verb->action == Action::unmute || verb->action == Action::toggleMute ||
                          verb->action == Action::setOutput;
    if (takesApp && command.app.empty()) {
        bad("Name an app by its pid or its application id.");
    }
    if ((verb->action == Action::setOutput && !command.followDefault) ||
        verb->action == Action::defaultOutput) {
        if (command.device.empty()) {
            bad("Name an output device by its UID or its name.");
        }
    }
    return command;
}

std::string controlHelpText() {
    return "Usage: brindell ctl COMMAND [ARGUMENTS] [--json]\n"
           "Controls the running Brindell over the session bus.\n"
           "\n"
           "Commands:\n"
           "  list                         the apps in the mixer\n"
           "  watch                        one line per change of the apps (the list, a\n"
           "                               volume, mute, output or status) until\n"
           "                               interrupted; with --json, JSON lines\n"
           "  set-volume APP VOLUME        VOLUME: 40%, 0.4, +5% or -5%\n"
           "  mute APP, unmute APP, toggle-mute APP\n"
           "  set-output APP DEVICE        send the app to a device; default: follow the\n"
           "                               system output\n"
           "  forget APP, forget --all     forget remembered volume, mute and output\n"
           "  outputs                      the output devices (* marks the default)\n"
           "  master [VOLUME|mute|unmute|toggle-mute]\n"
           "                               show or change the system output\n"
           "  default-output DEVICE        make a device the system output\n"
           "  toggle, show                 toggle or open the panel\n"
           "  settings                     open the settings window\n"
           "\n"
           "APP is a pid or an application id (also its name, ignoring case). DEVICE is a\n"
           "UID or a device name, ignoring case. --json prints list, outputs and master as\n"
           "JSON; list --json adds each app's live level (0 to 1, null when not adjusted).\n"
           "\n"
           "Exit status: 0 done, 1 no Brindell is running, 2 bad input (nothing changed).\n";
}

} // namespace brindell
