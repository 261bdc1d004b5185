#pragma once

#include <cstdint>
#include <optional>

namespace brindell {

// Brindell's key codes against X keysyms (the numbering of X11 and xkbcommon). The registrar
// grabs the keysym's key; the recorder turns a captured keysym back into a key code.

// The unshifted keysym of a key code in keyNames, of Esc and of F13; none otherwise.
std::optional<std::uint32_t> keysymForKeyCode(std::uint32_t keyCode);

// The key code of a keysym. Besides the keysyms above it accepts upper-case letters and
// ISO_Left_Tab (what Shift turns A and Tab into), and the keypad's Enter as Return.
std::optional<std::uint32_t> keyCodeForKeysym(std::uint32_t keysym);

} // namespace brindell
