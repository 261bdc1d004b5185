#pragma once

#include "hotkey/KeyDownMonitor.h"

#include <cstdint>
#include <optional>

namespace brindell {

// Installs the recorder's key monitor as an application-wide Qt event filter: every key press of
// a non-modifier key addressed to the program's own windows goes to the handler and, when the
// handler swallows it, never reaches the window, nor any shortcut of the window. Main thread only,
// with a QGuiApplication in place.
KeyDownMonitorInstaller qtKeyDownMonitorInstaller();

// Brindell's key code of a Qt key (Qt::Key value), or none. Keys typed with Shift on a US layout
// read as their unshifted key ('!' is 1), so that Shift+1 records as Shift and 1.
std::optional<std::uint32_t> keyCodeForQtKey(int qtKey);

// The KeyDownEvent modifier flags of Qt keyboard modifiers (Meta is Super on this desktop).
std::uint64_t modifierFlagsForQt(std::uint32_t qtModifiers);

} // namespace brindell
