#pragma once

#include "mixer/MixerRecords.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace brindell {

// A request of the scriptable control (the session-bus service and `brindell ctl`) that cannot
// be carried out as asked. The message is one sentence for the user; nothing has changed.
class ControlRequestError : public std::runtime_error {
public:
    enum class Kind {
        invalidArgument, // malformed or out of range
        noSuchApp,       // no row answers to the app named
        noSuchOutput,    // no output device answers to the device named
        ambiguous,       // several apps or devices answer to it
        notSupported,    // the system output cannot do it (no default output, fixed volume)
    };

    ControlRequestError(Kind kind, const std::string& message)
        : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// A volume as written on the command line: "40%" or "0.4" set it, "+5%" or "-0.05" change it.
// Absolute volumes lie in 0 to 1; a change moves the current volume and is clamped there.
struct VolumeChange {
    bool relative = false;
    double amount = 0.0; // absolute: 0 to 1; relative: -1 to 1

    double appliedTo(double current) const;
    friend bool operator==(const VolumeChange&, const VolumeChange&) = default;
};

// Throws ControlRequestError (invalidArgument) for anything else: signs inside, exponents,
// "nan", "inf", a bare number above 1, a percentage above 100.
VolumeChange parseVolume(const std::string& text);

// "40%": the volume as a whole percentage, rounded.
std::string percentText(double volume);

// True for a plain positive decimal that fits a pid; *pid receives it.
bool parsePid(const std::string& text, pid_type* pid);

// The rows an app argument names. A pid names the row with that pid. Anything else names the
// rows of that application id; failing that, ignoring ASCII case, of that id or display name.
// Several rows of one application are all named (settings are kept per application). Throws
// ControlRequestError: noSuchApp, or ambiguous when different applications answer.
std::vector<pid_type> resolveApp(const std::vector<MixerRow>& rows, const std::string& app);

// The application id to forget for an app argument: the id of the rows it names; a text that
// names no row is taken as an application id itself (an app that is not playing now keeps its
// remembered settings too). Throws for a pid that names no row or a row without an id.
std::string resolveForgetID(const std::vector<MixerRow>& rows, const std::string& app);

// The UID of the output a device argument names: a UID, else a device name or UID ignoring
// ASCII case. Throws ControlRequestError: noSuchOutput, or ambiguous.
std::string resolveOutput(const std::vector<OutputChoice>& outputs, const std::string& device);

// ASCII lower case; other bytes (UTF-8 included) stay as they are.
std::string asciiLower(std::string text);

} // namespace brindell
