#include "shell/PanelPlacement.h"

#include <algorithm>

namespace brindell::PanelPlacement {

namespace {

constexpr double sideMargin = 8;
constexpr double anchorGap = 6;
constexpr double topGap = 8;
constexpr double menuBarSlack = 1;
constexpr double topBand = 60;

// Centres the panel on midX, keeping the side margins inside the visible frame; with no room
// for both margins, the left one wins.
double clampedX(double midX, double width, const Rect& visible) {
    const double lower = visible.left() + sideMargin;
    const double upper = visible.right() - width - sideMargin;
    const double x = midX - width / 2;
    if (upper < lower) {
        return lower;
    }
    return x < lower ? lower : (x > upper ? upper : x);
}

double clamp(double value, double lower, double upper) {
    if (upper < lower) {
        return lower;
    }
    return value < lower ? lower : (value > upper ? upper : value);
}

} // namespace

bool Rect::intersects(const Rect& other) const {
    return left() < other.right() && other.left() < right() && bottom() < other.top() &&
           other.bottom() < top();
}

bool Rect::contains(const Point& point) const {
    // As the pointer is tested in this frame: the top edge belongs to the rectangle, the bottom
    // edge does not.
    return point.x >= left() && point.x < right() && point.y > bottom() && point.y <= top();
}

namespace {

// Under an icon in a bar at the top of the first display it lies on; none for any other icon.
std::optional<Point> underTopBarIcon(double width, double height, const Rect& anchor,
                                     const std::vector<Screen>& screens) {
    for (const auto& screen : screens) {
        if (!screen.frame.intersects(anchor)) {
            continue;
        }
        const bool inTopBar = screen.visibleFrame.top() - menuBarSlack < anchor.top() &&
                              screen.frame.top() - topBand < anchor.bottom() && anchor.width > 0;
        if (inTopBar) {
            return Point{clampedX(anchor.midX(), width, screen.visibleFrame),
                         anchor.bottom() - height - anchorGap};
        }
        break; // only the first display under the anchor is asked
    }
    return std::nullopt;
}

} // namespace

Point place(double width, double height, const std::optional<Rect>& anchor,
            const std::vector<Screen>& screens, const Screen& pointerScreen) {
    if (anchor) {
        if (const auto under = underTopBarIcon(width, height, *anchor, screens)) {
            return *under;
        }
    }
    return {clampedX(pointerScreen.frame.midX(), width, pointerScreen.visibleFrame),
            pointerScreen.visibleFrame.top() - height - topGap};
}

Point placeNear(double width, double height, const std::optional<Rect>& icon,
                const std::optional<Point>& click, const std::vector<Screen>& screens,
                const Screen& pointerScreen) {
    if (icon) {
        if (const auto under = underTopBarIcon(width, height, *icon, screens)) {
            return *under;
        }
        const bool onADisplay = std::any_of(screens.begin(), screens.end(), [&](const Screen& s) {
            return s.frame.intersects(*icon);
        });
        if (onADisplay && icon->width > 0 && icon->height > 0) {
            return placeAtPoint(width, height, {icon->midX(), icon->y + icon->height / 2}, screens,
                                pointerScreen);
        }
    }
    if (click) {
        return placeAtPoint(width, height, *click, screens, pointerScreen);
    }
    return place(width, height, std::nullopt, screens, pointerScreen);
}

Edge nearestEdge(const Point& point, const Rect& frame) {
    const double top = frame.top() - point.y;
    const double bottom = point.y - frame.bottom();
    const double left = point.x - frame.left();
    const double right = frame.right() - point.x;
    Edge edge = Edge::top;
    double nearest = top;
    if (bottom < nearest) {
        edge = Edge::bottom;
        nearest = bottom;
    }
    if (left < nearest) {
        edge = Edge::left;
        nearest = left;
    }
    if (right < nearest) {
        edge = Edge::right;
    }
    return edge;
}

Point placeAtPoint(double width, double height, const Point& click,
                   const std::vector<Screen>& screens, const Screen& pointerScreen) {
    Screen screen = pointerScreen;
    for (const auto& candidate : screens) {
        if (candidate.frame.contains(click)) {
            screen = candidate;
            break;
        }
    }
    const Rect& visible = screen.visibleFrame;
    double x = click.x - width / 2;
    double y = click.y - height / 2;
    // A click outside the visible frame lies in the tray's own bar; inside it (a bar that
    // reserves no space) the nearest edge of the display tells.
    Edge edge = nearestEdge(click, screen.frame);
    if (click.y > visible.top()) {
        edge = Edge::top;
    } else if (click.y < visible.bottom()) {
        edge = Edge::bottom;
    } else if (click.x < visible.left()) {
        edge = Edge::left;
    } else if (click.x > visible.right()) {
        edge = Edge::right;
    }
    switch (edge) {
    case Edge::top:
        // The click lies in the bar, above the visible frame: hang below both.
        y = std::min(click.y, visible.top()) - anchorGap - height;
        break;
    case Edge::bottom:
        y = std::max(click.y, visible.bottom()) + anchorGap;
        break;
    case Edge::left:
        x = std::max(click.x, visible.left()) + anchorGap;
        break;
    case Edge::right:
        x = std::min(click.x, visible.right()) - anchorGap - width;
        break;
    }
    x = clamp(x, visible.left() + sideMargin, visible.right() - width - sideMargin);
    // Too tall to fit: the top stays in view.
    const double lowest = visible.bottom() + sideMargin;
    const double highest = visible.top() - height - sideMargin;
    y = highest < lowest ? highest : clamp(y, lowest, highest);
    return {x, y};
}

Rect fromTopDown(const Rect& topDown, const Rect& primaryTopDown) {
    const double primaryBottom = primaryTopDown.y + primaryTopDown.height;
    return {topDown.x - primaryTopDown.x, primaryBottom - (topDown.y + topDown.height),
            topDown.width, topDown.height};
}

Rect toTopDown(const Rect& bottomUp, const Rect& primaryTopDown) {
    const double primaryBottom = primaryTopDown.y + primaryTopDown.height;
    return {bottomUp.x + primaryTopDown.x, primaryBottom - (bottomUp.y + bottomUp.height),
            bottomUp.width, bottomUp.height};
}

} // namespace brindell::PanelPlacement
