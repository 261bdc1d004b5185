#include "app/CommandLine.h"

#include <charconv>
#include <stdexcept>

namespace brindell {

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    if (args.empty()) {
        return result;
    }
    const std::string& first = args.front();
    if (first == "--help" || first == "-h") {
        result.mode = CommandLine::Mode::help;
    } else if (first == "--version") {
        result.mode = CommandLine::Mode::version;
    } else if (first == "--callbackbench") {
        result.mode = CommandLine::Mode::callbackBench;
    } else if (first == "--crashtest") {
        result.mode = CommandLine::Mode::crashTest;
        if (args.size() > 1 && args[1] != "crash") {
            throw std::invalid_argument("--crashtest takes no argument or 'crash', not '" +
                                        args[1] + "'");
        }
        if (args.size() == 2) {
            result.crashTestAction = args[1];
            return result;
        }
    } else if (first == "--cycletest") {
        result.mode = CommandLine::Mode::cycleTest;
        const std::string text = args.size() > 1 ? args[1] : "";
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), result.cycles);
        if (text.empty() || error != std::errc{} || end != text.data() + text.size() ||
            result.cycles <= 0) {
            throw std::invalid_argument("--cycletest needs a positive number of cycles, not '" +
                                        text + "'");
        }
        if (args.size() > 2) {
            throw std::invalid_argument("unexpected argument '" + args[2] + "' after " + args[1]);
        }
        return result;
    } else if (first == "--autoproof") {
        result.mode = CommandLine::Mode::autoProof;
        if (args.size() > 1) {
            const std::string& text = args[1];
            std::int32_t pid = 0;
            auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
            if (error != std::errc{} || end != text.data() + text.size() || pid <= 0) {
                throw std::invalid_argument("bad process id '" + text + "' after --autoproof");
            }
            result.proofPid = pid;
        }
        if (args.size() > 2) {
            throw std::invalid_argument("unexpected argument '" + args[2] + "' after " + args[1]);
        }
        return result;
    } else {
        throw std::invalid_argument("unknown option '" + first + "' (see brindell --help)");
    }
    if (args.size() > 1) {
        throw std::invalid_argument("unexpected argument '" + args[1] + "' after " + first);
    }
    return result;
}

std::string helpText() {
    return "Usage: brindell [OPTION]\n"
           "Per-application volume, mute and output device for the desktop.\n"
           "\n"
           "Without an option, brindell starts in the tray.\n"
           "\n"
           "Options:\n"
           "  --help            show this help and exit\n"
           "  --version         show the version and exit\n"
           "\n"
           "Diagnostics (each writes a log to $TMPDIR, else /tmp, and exits):\n"
           "  --callbackbench   time the render callback on 512 stereo frames\n"
           "  --crashtest       show stored crash diagnostics and the reports they make\n"
           "  --crashtest crash crash on purpose, leaving a diagnostic for the next start\n"
           "  --cycletest N     start, confirm, turn down and stop a tap session N times on\n"
           "                    the first other app playing; cycletest.log\n"
           "  --autoproof [PID] prove that an app's audio can be tapped and played through\n"
           "                    (PID, else the first other app playing); autoproof.log\n";
}

} // namespace brindell
