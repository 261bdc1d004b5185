#include "mixer/MixerViewModel.h"
#include "shell/LayoutKey.h"
#include "shell/PanelPlacement.h"
#include "shell/QtKeys.h"

#include <QKeyEvent>
#include <gtest/gtest.h>

namespace brindell {
namespace {

using PanelPlacement::place;
using PanelPlacement::Point;
using PanelPlacement::Rect;
using PanelPlacement::Screen;

// A 1920 by 1080 display with a 25-point bar along its top.
const Screen laptop{{0, 0, 1920, 1080}, {0, 0, 1920, 1055}};

// The tray icon's rectangle in the bar, centred on x.
Rect iconAt(double centreX) {
    return {centreX - 12, 1055, 24, 24};
}

TEST(PanelPlacement, HangsSixBelowTheIconCentredOnIt) {
    EXPECT_EQ(place(380, 300, iconAt(1012), {laptop}, laptop), (Point{1012 - 190, 1055 - 300 - 6}));
    // Its height is never clamped.
    EXPECT_EQ(place(380, 2000, iconAt(1012), {laptop}, laptop).y, 1055 - 2000 - 6);
}

TEST(PanelPlacement, KeepsEightFromTheSides) {
    EXPECT_EQ(place(380, 300, iconAt(1900), {laptop}, laptop).x, 1532);
    EXPECT_EQ(place(380, 300, iconAt(20), {laptop}, laptop).x, 8);
    // Exactly at the bounds: unchanged.
    EXPECT_EQ(place(380, 300, iconAt(1532 + 190), {laptop}, laptop).x, 1532);
    EXPECT_EQ(place(380, 300, iconAt(8 + 190), {laptop}, laptop).x, 8);
}

TEST(PanelPlacement, ADisplayNarrowerThanThePanelAndMarginsTakesTheLeftMargin) {
    const Screen narrow{{2000, 0, 390, 800}, {2000, 0, 390, 780}};
    EXPECT_EQ(place(380, 300, std::nullopt, {narrow}, narrow).x, 2008);
    const Screen narrowWithBar{{2000, 0, 390, 800}, {2000, 0, 390, 775}};
    const Rect icon{2300, 776, 24, 24};
    EXPECT_EQ(place(380, 300, icon, {narrowWithBar}, narrowWithBar), (Point{2008, 776 - 300 - 6}));
}

TEST(PanelPlacement, WithoutAnIconCentresAtTheTopOfThePointersDisplay) {
    EXPECT_EQ(place(380, 300, std::nullopt, {laptop}, laptop), (Point{960 - 190, 1055 - 300 - 8}));
    const Screen other{{1920, 200, 1280, 800}, {1920, 200, 1280, 770}};
    EXPECT_EQ(place(380, 300, std::nullopt, {laptop, other}, other),
              (Point{1920 + 640 - 190, 970 - 300 - 8}));
}

TEST(PanelPlacement, OpensOnTheDisplayHoldingTheIconNotThePointers) {
    const Screen big{{1920, 0, 2560, 1440}, {1920, 0, 2560, 1415}};
    const Rect icon{3000, 1415, 24, 25};
    EXPECT_EQ(place(380, 300, icon, {laptop, big}, laptop), (Point{3012 - 190, 1415 - 300 - 6}));
}

TEST(PanelPlacement, AnIconOutsideATopBarIsNoAnchor) {
    const Point fallback = place(380, 300, std::nullopt, {laptop}, laptop);
    // In a bar along the bottom of the display.
    const Screen bottomBar{{0, 0, 1920, 1080}, {0, 40, 1920, 1040}};
    EXPECT_EQ(place(380, 300, Rect{1000, 5, 24, 30}, {bottomBar}, bottomBar),
              (Point{770, 1080 - 300 - 8}));
    // Inside the visible frame (a window's button, not a bar item).
    EXPECT_EQ(place(380, 300, Rect{1000, 1000, 24, 24}, {laptop}, laptop), fallback);
    // More than 60 below the top of the display, though above the visible frame.
    const Screen tallBar{{0, 0, 1920, 1080}, {0, 0, 1920, 900}};
    EXPECT_EQ(place(380, 300, Rect{1000, 1010, 24, 24}, {tallBar}, tallBar),
              (Point{770, 900 - 300 - 8}));
    // No width.
    EXPECT_EQ(place(380, 300, Rect{1000, 1055, 0, 24}, {laptop}, laptop), fallback);
    // On no display at all.
    EXPECT_EQ(place(380, 300, Rect{-500, 1055, 24, 24}, {laptop}, laptop), fallback);
    // Two overlapping displays (mirrored): only the first under the icon is judged, even if the
    // second would do.
    const Screen first{{0, 0, 1920, 1080}, {0, 0, 1920, 1080}};
    const Screen second{{0, 0, 1920, 1080}, {0, 0, 1920, 1055}};
    EXPECT_EQ(place(380, 300, iconAt(1012), {first, second}, second), (Point{770, 1055 - 300 - 8}));
}

TEST(PanelPlacement, ConvertsFromAndToTheToolkitsCoordinatesAndOwnsTheTopEdge) {
    const Rect primary{0, 0, 1920, 1080};
    // The tray icon in a bar along the top: y 0 to 24 top-down is 1056 to 1080 bottom-up.
    EXPECT_EQ(PanelPlacement::fromTopDown({1000, 0, 24, 24}, primary), (Rect{1000, 1056, 24, 24}));
    EXPECT_EQ(PanelPlacement::toTopDown({1000, 1056, 24, 24}, primary), (Rect{1000, 0, 24, 24}));
    // A display above the primary one has negative y top-down, so y above 1080 bottom-up.
    const Rect above{0, -1440, 2560, 1440};
    EXPECT_EQ(PanelPlacement::fromTopDown(above, primary), (Rect{0, 1080, 2560, 1440}));
    // A primary display that does not sit at the origin.
    const Rect shifted{1280, 100, 1920, 1080};
    EXPECT_EQ(PanelPlacement::fromTopDown(shifted, shifted), (Rect{0, 0, 1920, 1080}));
    const Rect any{1500, 300, 380, 260};
    EXPECT_EQ(PanelPlacement::toTopDown(PanelPlacement::fromTopDown(any, shifted), shifted), any);

    // The pointer on the top edge is on that display.
    const Rect frame = laptop.frame;
    EXPECT_TRUE(frame.contains({0, 1080}));
    EXPECT_FALSE(frame.contains({0, 0}));
    EXPECT_FALSE(frame.contains({1920, 500}));
    EXPECT_FALSE(frame.intersects({1920, 0, 10, 10})) << "touching edges share no area";
}

MixerRow row(pid_type pid, MixerRowStatus status = MixerRowStatus::ok(), bool active = true) {
    MixerRow r;
    r.pid = pid;
    r.name = "App " + std::to_string(pid);
    r.status = std::move(status);
    r.isActive = active;
    return r;
}

// Trays that report no icon rectangle: the panel opens at the clicked point, away from the
// edge the tray is on, inside the visible frame. y-up: the bar at the top is above 1055.
TEST(PanelPlacementAtAClick, OpensAwayFromTheEdgeTheTrayIsOnInsideTheVisibleFrame) {
    using PanelPlacement::placeAtPoint;
    // Top bar: hangs below the bar, centred on the click.
    EXPECT_EQ(placeAtPoint(380, 300, {1000, 1070}, {laptop}, laptop),
              (Point{1000 - 190, 1055 - 8 - 300}));
    // Bottom bar 40 high: stands on it.
    const Screen bottomBar{{0, 0, 1920, 1080}, {0, 40, 1920, 1040}};
    EXPECT_EQ(placeAtPoint(380, 300, {600, 20}, {bottomBar}, bottomBar),
              (Point{600 - 190, 40 + 8}));
    // Left and right docks 48 wide: beside the dock, centred on the click's height.
    const Screen leftDock{{0, 0, 1920, 1080}, {48, 0, 1872, 1080}};
    EXPECT_EQ(placeAtPoint(380, 300, {24, 500}, {leftDock}, leftDock), (Point{48 + 8, 500 - 150}));
    const Screen rightDock{{0, 0, 1920, 1080}, {0, 0, 1872, 1080}};
    EXPECT_EQ(placeAtPoint(380, 300, {1896, 500}, {rightDock}, rightDock),
              (Point{1872 - 8 - 380, 500 - 150}));

    // Inside the visible frame of the clicked display. The corner of a top bar, nearer the side
    // than the top: still below the bar, pushed in from the side.
    EXPECT_EQ(placeAtPoint(380, 300, {1915, 1070}, {laptop}, laptop),
              (Point{1920 - 8 - 380, 1055 - 8 - 300}));
    // A bar that reserves no space: the nearest edge of the display.
    EXPECT_EQ(placeAtPoint(380, 300, {1915, 500}, {laptop}, laptop).x, 1915 - 6 - 380);
    // A right dock clicked near the bottom: lifted into the frame.
    EXPECT_EQ(placeAtPoint(380, 300, {1896, 1000}, {rightDock}, rightDock).y, 1080 - 8 - 300);
    // Taller than the frame: the top stays in view.
    EXPECT_EQ(placeAtPoint(380, 2000, {1000, 1070}, {laptop}, laptop).y, 1055 - 8 - 2000);
    // The click's display, not the pointer's.
    const Screen other{{1920, 0, 1280, 1024}, {1920, 0, 1280, 994}};
    EXPECT_EQ(placeAtPoint(380, 300, {2500, 1010}, {laptop, other}, laptop),
              (Point{2500 - 190, 994 - 8 - 300}));
}

TEST(PanelPlacementAtAClick, AnIconRectangleOutsideATopBarCountsAsItsCentre) {
    using PanelPlacement::placeNear;
    const Screen bottomBar{{0, 0, 1920, 1080}, {0, 40, 1920, 1040}};
    // An icon in a bottom bar: above it, not at the top of the display.
    EXPECT_EQ(placeNear(380, 300, Rect{1000, 5, 24, 30}, std::nullopt, {bottomBar}, bottomBar),
              (Point{1012 - 190, 48}));
    // A top bar's icon beats the click; with neither, the display's top centre.
    EXPECT_EQ(placeNear(380, 300, iconAt(1012), Point{10, 10}, {laptop}, laptop),
              place(380, 300, iconAt(1012), {laptop}, laptop));
    EXPECT_EQ(placeNear(380, 300, std::nullopt, std::nullopt, {laptop}, laptop),
              place(380, 300, std::nullopt, {laptop}, laptop));
    // An empty rectangle is no icon; the click decides.
    EXPECT_EQ(placeNear(380, 300, Rect{0, 0, 0, 0}, Point{600, 20}, {bottomBar}, bottomBar),
              (Point{600 - 190, 48}));
}

TEST(LayoutKey, OnlyWhatChangesTheHeightChangesTheKey) {
    const std::vector<MixerRow> rows = {row(1), row(2)};
    const OutputState master{"a", "A", 0.5f, false};
    const LayoutKey base = LayoutKey::make(rows, PermissionState::unknown, master);

    auto louder = rows;
    louder[0].volume = 0.2f;
    louder[1].isMuted = true;
    louder[1].outputUID = "hdmi";
    auto masterChanged = master;
    masterChanged.volume = 0.9f;
    masterChanged.isMuted = true;
    masterChanged.deviceName = "B";
    EXPECT_EQ(LayoutKey::make(louder, PermissionState::unknown, masterChanged), base);

    const auto unknown = PermissionState::unknown;
    for (const LayoutKey& other :
         {LayoutKey::make({row(1), row(2), row(3)}, unknown, master),
          LayoutKey::make({row(2), row(1)}, unknown, master),
          LayoutKey::make({row(1), row(2, MixerRowStatus::starting())}, unknown, master),
          LayoutKey::make({row(1), row(2, MixerRowStatus::ok(), false)}, unknown, master),
          LayoutKey::make(rows, PermissionState::likelyDenied, master),
          LayoutKey::make(rows, unknown, OutputState{"a", "A", std::nullopt, false}),
          LayoutKey::make(rows, unknown, std::nullopt)}) {
        EXPECT_NE(other, base);
    }
    EXPECT_NE(
        LayoutKey::make({row(1), row(2, MixerRowStatus::captureFailed("x"))}, unknown, master),
        LayoutKey::make({row(1), row(2, MixerRowStatus::captureFailed("y"))}, unknown, master));
}

PanelKey keyOf(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
               const QString& text = {}) {
    return panelKey(QKeyEvent(QEvent::KeyPress, key, modifiers, text));
}

TEST(PanelKeys, CodesCharactersAndModifiers) {
    const std::pair<Qt::Key, std::uint16_t> codes[] = {
        {Qt::Key_Up, keycode::upArrow},     {Qt::Key_Down, keycode::downArrow},
        {Qt::Key_Left, keycode::leftArrow}, {Qt::Key_Right, keycode::rightArrow},
        {Qt::Key_Home, keycode::home},      {Qt::Key_End, keycode::end}};
    for (const auto& [qt, code] : codes) {
        EXPECT_EQ(keyOf(qt).keyCode, code);
    }
    // The keypad's arrows are the same keys.
    EXPECT_EQ(keyOf(Qt::Key_Up, Qt::KeypadModifier).keyCode, keycode::upArrow);
    EXPECT_EQ(keyOf(Qt::Key_M).keyCode, PanelKey::unknownKeyCode);

    // Characters ignore modifiers.
    EXPECT_EQ(keyOf(Qt::Key_M, Qt::NoModifier, "m").characters, "m");
    EXPECT_EQ(keyOf(Qt::Key_M, Qt::ShiftModifier, "M").characters, "m");
    // Ctrl+R types a control character; the key is still R.
    EXPECT_EQ(keyOf(Qt::Key_R, Qt::ControlModifier, QString(QChar(0x12))).characters, "r");
    EXPECT_EQ(keyOf(Qt::Key_Up).characters, "");

    // Modifiers under their model names.
    const PanelKey all = keyOf(Qt::Key_Left, Qt::ShiftModifier | Qt::AltModifier |
                                                 Qt::ControlModifier | Qt::MetaModifier);
    EXPECT_TRUE(all.shift && all.option && all.control && all.command);
    const PanelKey none = keyOf(Qt::Key_Left);
    EXPECT_FALSE(none.shift || none.option || none.control || none.command);
    EXPECT_TRUE(keyOf(Qt::Key_Left, Qt::AltModifier).option);
    EXPECT_TRUE(keyOf(Qt::Key_Left, Qt::MetaModifier).command);
}

} // namespace
} // namespace brindell
