#pragma once

#include <exception>
#include <optional>
#include <string>

namespace brindell {

// Why a shortcut was refused. Thrown by the registrar and the controller, and shown in the
// settings window through message().
class HotkeyError : public std::exception {
public:
    enum class Case {
        needsModifier,     // no Super, Alt or Ctrl, or a key outside keyNames
        reservedBySystem,  // one of reservedCombos
        voiceOverModifier, // Ctrl and Alt together on a new shortcut
        inUse,             // the display server refused the grab
        unavailable,       // no X11 display (a pure Wayland session): no global shortcuts at all
    };

    explicit HotkeyError(Case c) : case_(c) {}

    Case errorCase() const { return case_; }
    // The case name, as errors are written into logs.
    const char* what() const noexcept override;
    // The sentence the settings window shows.
    std::string message() const;

    friend bool operator==(const HotkeyError& a, const HotkeyError& b) {
        return a.case_ == b.case_;
    }

private:
    Case case_;
};

// Shown for a failure that is not a HotkeyError.
inline constexpr const char* kHotkeyUnknownErrorMessage = "Could not set the shortcut.";

} // namespace brindell
