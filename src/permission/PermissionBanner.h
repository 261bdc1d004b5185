#pragma once

#include <array>
#include <string_view>

namespace brindell {

// What the mixer panel says while capture is likely denied. The symbol is a symbol identifier
// that the interface layer draws from the icon theme.
struct PermissionBanner {
    static constexpr std::string_view symbol = "exclamationmark.triangle.fill";
    static constexpr std::string_view title = "Brindell can't hear your apps";
    static constexpr std::string_view body =
        "No audio has reached Brindell even though apps are playing, so the volume sliders have "
        "no effect and your apps play as normal. This usually means the audio server does not "
        "let Brindell capture other apps' sound.";
    static constexpr std::array<std::string_view, 3> steps = {
        "Press Open Sound Settings.",
        "Allow Brindell to capture app audio (for a sandboxed install, in its permissions).",
        "Come back and press Check again while something is playing.",
    };
    static constexpr std::string_view openSettingsButton = "Open Sound Settings";
    static constexpr std::string_view checkAgainButton = "Check again";
};

} // namespace brindell
