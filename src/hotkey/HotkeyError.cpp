#include "hotkey/HotkeyError.h"

namespace brindell {

const char* HotkeyError::what() const noexcept {
    switch (case_) {
    case Case::needsModifier:
        return "needsModifier";
    case Case::reservedBySystem:
        return "reservedBySystem";
    case Case::voiceOverModifier:
        return "voiceOverModifier";
    case Case::inUse:
        return "inUse";
    case Case::unavailable:
        return "unavailable";
    }
    return "unknown";
}

std::string HotkeyError::message() const {
    switch (case_) {
    case Case::needsModifier:
        return "Use Super, Alt or Ctrl together with a key.";
    case Case::reservedBySystem:
        return "That shortcut is used by the system. Try another.";
    case Case::voiceOverModifier:
        return "Ctrl and Alt together are kept for system shortcuts. Try another.";
    case Case::inUse:
        return "Another app already uses that shortcut. Try another.";
    case Case::unavailable:
        return "Global shortcuts need an X11 session; this session has none. Open the mixer from "
               "its icon.";
    }
    return kHotkeyUnknownErrorMessage;
}

} // namespace brindell
