#pragma once

namespace brindell {

// Teaches Qt's accessibility how the panel's own widgets read to assistive technology: sliders
// speak their value as "46 percent", menus their current choice, rows and the banner are one
// container each, and decorations are left out. Safe to call more than once.
void installAccessibility();

} // namespace brindell
