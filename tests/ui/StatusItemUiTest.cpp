#include "settings/fake/MemorySettingsStorage.h"
#include "shell/PanelTheme.h"
#include "shell/StatusItemController.h"

#include <QMenu>
#include <QPainter>
#include <cmath>
#include <gtest/gtest.h>

namespace brindell {
namespace {

TEST(StatusItem, OnlyARecordOfAHiddenIconHidesItAndTheMenuHasAnUpdateEntryOnlyWithAChecker) {
    for (const char* stored : {"", "not json", R"({"version":2,"visible":false})",
                               R"({"version":1,"visible":"no"})", R"([false])"}) {
        auto storage = std::make_shared<MemorySettingsStorage>(stored);
        StatusItemController status(std::nullopt, storage);
        EXPECT_TRUE(status.isVisible()) << stored;
    }
    StatusItemController unsaved(std::nullopt, std::make_shared<MemorySettingsStorage>());
    EXPECT_TRUE(unsaved.isVisible());
    StatusItemController hidden(
        std::nullopt, std::make_shared<MemorySettingsStorage>(R"({"version":1,"visible":false})"));
    EXPECT_FALSE(hidden.isVisible());
    EXPECT_FALSE(hidden.anchorRect()) << "a hidden icon is no anchor";

    // Without an update check the menu has four entries.
    ASSERT_EQ(unsaved.menu()->actions().size(), 4);
    unsaved.setOnCheckForUpdates([] {});
    EXPECT_EQ(unsaved.menu()->actions().size(), 5);
    unsaved.setOnCheckForUpdates(nullptr);
    EXPECT_EQ(unsaved.menu()->actions().size(), 4);
}

double luminance(const QColor& color) {
    const auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) +
           0.0722 * channel(color.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The icon as the tray shows it on its background: the contrast of its solid strokes.
double iconContrastOn(const TrayColors& colors, const QPalette& palette, const QColor& tray) {
    QImage shown(22, 22, QImage::Format_ARGB32);
    shown.fill(tray);
    const QImage icon = trayIconImage(trayIconColor(colors, palette), 22);
    {
        QPainter painter(&shown);
        painter.drawImage(0, 0, icon);
    }
    double weakest = 100;
    int strokes = 0;
    for (int y = 0; y < icon.height(); ++y) {
        for (int x = 0; x < icon.width(); ++x) {
            if (icon.pixelColor(x, y).alpha() >= 250) {
                ++strokes;
                weakest = std::min(weakest, contrast(shown.pixelColor(x, y), tray));
            }
        }
    }
    return strokes >= 20 ? weakest : 0;
}

TEST(StatusItem, TheDrawnIconStandsOutOnDarkAndLightTrays) {
    const QColor darkTray(0x2b, 0x2b, 0x2b);
    const QColor lightTray(0xf0, 0xf0, 0xf0);
    const QPalette light = PanelTheme::lightPalette();
    const QColor lightName(0xee, 0xee, 0xee);
    const QColor darkName(0x20, 0x20, 0x20);
    // The desktop's colour scheme decides over the application's palette; the colours the tray
    // names decide over the scheme (a dark panel on a light desktop); the tray's background as
    // read from the screen decides over both when the named colour does not stand out on it
    // (a panel given its own colour, an unthemed tray).
    const std::pair<TrayColors, QColor> cases[] = {{{std::nullopt, true, std::nullopt}, darkTray},
                                                   {{std::nullopt, false, std::nullopt}, lightTray},
                                                   {{lightName, false, std::nullopt}, darkTray},
                                                   {{darkName, true, std::nullopt}, lightTray},
                                                   {{std::nullopt, false, darkTray}, darkTray},
                                                   {{std::nullopt, true, lightTray}, lightTray},
                                                   {{darkName, false, darkTray}, darkTray},
                                                   {{lightName, true, lightTray}, lightTray}};
    for (const auto& [colors, tray] : cases) {
        EXPECT_GE(iconContrastOn(colors, light, tray), 3.0) << tray.name().toStdString();
    }
    const QColor amber(0xff, 0xc0, 0x30);
    EXPECT_EQ(trayIconColor({amber, std::nullopt, darkTray}, light), amber)
        << "a named colour that stands out is the tray's own choice";
}

} // namespace
} // namespace brindell
