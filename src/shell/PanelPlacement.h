#pragma once

#include <optional>
#include <vector>

namespace brindell::PanelPlacement {

// Global screen coordinates with the origin at the bottom-left corner of the primary display,
// x to the right and y upwards. The top of a rectangle is its largest y.
struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double left() const { return x; }
    double right() const { return x + width; }
    double bottom() const { return y; }
    double top() const { return y + height; }
    double midX() const { return x + width / 2; }
    // True when the two share area; touching edges do not count.
    bool intersects(const Rect& other) const;
    bool contains(const Point& point) const;
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct Screen {
    Rect frame;        // the whole display
    Rect visibleFrame; // the display minus panels and docks
    friend bool operator==(const Screen&, const Screen&) = default;
};

// Where the panel's bottom-left corner goes. It hangs 6 below the anchor (the tray icon) when
// the anchor sits in a bar at the top of its display; otherwise it is centred at the top of
// the pointer's display, 8 below its visible frame. x keeps 8 from the visible frame's sides;
// y is never clamped.
Point place(double width, double height, const std::optional<Rect>& anchor,
            const std::vector<Screen>& screens, const Screen& pointerScreen);

// Conversions from and to the toolkit's coordinates (origin at the top-left of the virtual
// desktop, y downwards), given the primary display's rectangle in those coordinates.
Rect fromTopDown(const Rect& topDown, const Rect& primaryTopDown);
Rect toTopDown(const Rect& bottomUp, const Rect& primaryTopDown);

} // namespace brindell::PanelPlacement
