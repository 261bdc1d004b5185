#include "shell/PanelPlacement.h"

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

Point place(double width, double height, const std::optional<Rect>& anchor,
            const std::vector<Screen>& screens, const Screen& pointerScreen) {
    if (anchor) {
        for (const auto& screen : screens) {
            if (!screen.frame.intersects(*anchor)) {
                continue;
            }
            const bool inTopBar = screen.visibleFrame.top() - menuBarSlack < anchor->top() &&
                                  screen.frame.top() - topBand < anchor->bottom() &&
                                  anchor->width > 0;
            if (inTopBar) {
                return {clampedX(anchor->midX(), width, screen.visibleFrame),
                        anchor->bottom() - height - anchorGap};
            }
            break; // only the first display under the anchor is asked
        }
    }
    return {clampedX(pointerScreen.frame.midX(), width, pointerScreen.visibleFrame),
            pointerScreen.visibleFrame.top() - height - topGap};
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
