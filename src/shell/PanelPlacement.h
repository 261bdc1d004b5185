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

// The edge of its display a tray sits on.
enum class Edge { top, bottom, left, right };

// The edge of the display nearest to the point, and the display: the one holding the point,
// else the first.
Edge nearestEdge(const Point& point, const Rect& frame);

// Where the panel's bottom-left corner goes for a tray that reports no geometry, only the
// point that was clicked on it: the panel opens 6 away from the point, away from the edge of
// the display the tray sits on (the side of the visible frame the point lies beyond, else the
// display's edge nearest to it), centred on the point along that edge, and wholly inside the
// visible frame with 8 to spare where it fits (the top edge wins where it does not).
Point placeAtPoint(double width, double height, const Point& click,
                   const std::vector<Screen>& screens, const Screen& pointerScreen);

// Where the panel goes on the desktop: under the tray icon in a top bar as place() does; next
// to an icon elsewhere, or to the clicked point when the tray reports no icon, as
// placeAtPoint() does; else as place() does without an anchor.
Point placeNear(double width, double height, const std::optional<Rect>& icon,
                const std::optional<Point>& click, const std::vector<Screen>& screens,
                const Screen& pointerScreen);

// Conversions from and to the toolkit's coordinates (origin at the top-left of the virtual
// desktop, y downwards), given the primary display's rectangle in those coordinates.
Rect fromTopDown(const Rect& topDown, const Rect& primaryTopDown);
Rect toTopDown(const Rect& bottomUp, const Rect& primaryTopDown);

} // namespace brindell::PanelPlacement
