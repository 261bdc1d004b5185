#pragma once

#include <cstdint>
#include <string>

class QKeyEvent;

namespace brindell {

class MixerViewModel;

// A key press as the view model reads it: Brindell's own key code for the keys it knows by
// position (arrows, Home, End; unknownKeyCode otherwise), the key's characters without
// modifiers, and the modifiers under their model names (command is Super, option is Alt).
struct PanelKey {
    static constexpr std::uint16_t unknownKeyCode = 0xffff;
    std::uint16_t keyCode = unknownKeyCode;
    std::string characters;
    bool command = false;
    bool control = false;
    bool shift = false;
    bool option = false;
};

PanelKey panelKey(const QKeyEvent& event);

// The panel's key handler: the key's action, if it has one, applied to the model. False when
// the key means nothing to the mixer or did nothing, so the panel's normal handling gets it.
bool handlePanelKey(MixerViewModel& model, const QKeyEvent& event);

} // namespace brindell
