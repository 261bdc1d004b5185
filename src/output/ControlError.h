#pragma once

#include <exception>

namespace brindell {

// Why the output device controller refused a master action before asking the system.
class ControlError : public std::exception {
public:
    enum class Kind {
        noDefaultOutput,   // a volume change before any state exists
        noSoftwareVolume,  // a volume change while the output has no software volume
        noMute,            // a mute change while the output has no settable mute
        deviceUnavailable, // the UID asked for as default output is not among the outputs
    };

    explicit ControlError(Kind kind) : kind_(kind) {}

    Kind kind() const { return kind_; }
    // The case name, as every error reads in messages.
    const char* text() const noexcept;
    const char* what() const noexcept override { return text(); }

    friend bool operator==(const ControlError& a, const ControlError& b) {
        return a.kind_ == b.kind_;
    }

private:
    Kind kind_;
};

} // namespace brindell
