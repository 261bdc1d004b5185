#pragma once

#include <QColor>
#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSystemTrayIcon>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMenu;
class QTimer;

namespace brindell {

class SettingsStorage;
class StatusNotifierItem;

// What the tray icon's colour is chosen from, strongest first: the tray's real background as
// it is on screen (the foreground colour the tray names where that stands out on it, else light
// or dark, whichever stands out more), then that foreground colour, then the desktop's colour
// scheme (dark or light), then the palette.
struct TrayColors {
    std::optional<QColor> trayForeground;
    std::optional<bool> darkScheme;
    std::optional<QColor> trayBackground;
};

// The colour of the icon Brindell draws itself (XEmbed trays, and StatusNotifierItem trays
// that cannot find the themed icon).
QColor trayIconColor(const TrayColors& colors, const QPalette& palette);
// The icon drawn in that colour, size by size pixels.
QImage trayIconImage(const QColor& color, int size);
// The foreground colour an XEmbed tray asks for (_NET_SYSTEM_TRAY_COLORS on the tray's manager
// window); none off X11 or when the tray names none.
std::optional<QColor> x11TrayForeground();
// The tray's background around an icon shown at `icon` (screen coordinates): the median colour
// of the screen's pixels in a thin ring just outside it; none where nothing can be read.
std::optional<QColor> trayBackgroundAround(const QRect& icon);

// The tray icon: a left click toggles the panel; a right click, or a left click with Ctrl
// held, opens its menu ("Settings…", "Reset Audio", "Check for Updates…" while that is set,
// "Quit Brindell"); a middle click toggles the master mute and the wheel steps the master
// volume. Where a StatusNotifierWatcher is on the bus, the icon is Brindell's own
// StatusNotifierItem; elsewhere the toolkit's tray icon (XEmbed).
//
// Threading: main thread only. Ownership: owns the tray icon, the item and its menu.
class StatusItemController : public QObject {
    Q_OBJECT
public:
    // badge: the build marker's badge, for the tooltip; none for normal builds.
    // visibility: where the icon's visibility is kept across launches ("BrindellStatusItem"),
    // as {"version":1,"visible":BOOL}; none keeps it for this run only. A missing or unreadable
    // record shows the icon.
    // bus: where the StatusNotifierItem is published (the session bus).
    explicit StatusItemController(std::optional<QString> badge = std::nullopt,
                                  std::shared_ptr<SettingsStorage> visibility = nullptr,
                                  QDBusConnection bus = QDBusConnection::sessionBus());
    ~StatusItemController() override;

    std::function<void()> onToggle = [] {};
    std::function<void()> onSettings = [] {};
    std::function<void()> onResetAudio = [] {};
    // The master volume by whole 5 % steps (positive: louder), and its mute.
    std::function<void(int steps)> onMasterSteps = [](int) {};
    std::function<void()> onToggleMasterMute = [] {};
    // The icon became reachable in a tray, or stopped being so.
    std::function<void()> onReachabilityChanged = [] {};
    // The menu entry exists only while this is set.
    void setOnCheckForUpdates(std::function<void()> action);

    // The icon's rectangle in Qt coordinates when the tray reports a visible one on a screen.
    std::optional<QRect> anchorRect() const;
    // Where the icon was last clicked, in Qt coordinates: for trays that report no geometry.
    std::optional<QPoint> clickPoint() const { return clickPoint_; }
    // The icon is shown (not hidden in settings) and a tray shows it.
    bool isReachable() const;
    // A tray is on the desktop: a StatusNotifierWatcher on the bus or an XEmbed tray. Known at
    // once, where the item's registration is answered later.
    bool trayPresent() const;
    // The icon's colour comes from these from now on.
    void setTrayColors(const TrayColors& colors);
    // Shows or hides the icon and remembers the choice.
    void setVisible(bool visible);
    bool isVisible() const;

    // The menu as it is shown now (rebuilt for every showing).
    QMenu* menu() const { return menu_.get(); }
    void rebuildMenu();
    QSystemTrayIcon& trayIcon() { return tray_; }
    StatusNotifierItem& notifierItem() { return *item_; }

    // A click on the icon: the reason the tray gives, and the modifiers held.
    void activated(QSystemTrayIcon::ActivationReason reason, Qt::KeyboardModifiers modifiers);

private:
    void updateIcon();
    void updatePresence();
    void clickedAt(QPoint point);
    // Reads the tray's background once the tray has placed the toolkit's icon.
    void measureBackground();

    QSystemTrayIcon tray_;
    std::unique_ptr<StatusNotifierItem> item_;
    TrayColors colors_;
    std::optional<QColor> measuredBackground_;
    QTimer* measureTimer_ = nullptr;
    int measureTries_ = 0;
    bool visible_ = true;
    std::optional<QPoint> clickPoint_;
    std::unique_ptr<QMenu> menu_;
    std::function<void()> onCheckForUpdates_;
    std::shared_ptr<SettingsStorage> visibility_;
};

// The visibility record: encoded, and decoded (none for anything but a version 1 record with
// a boolean "visible").
std::vector<std::uint8_t> encodeIconVisibility(bool visible);
std::optional<bool> decodeIconVisibility(const std::vector<std::uint8_t>& blob);

} // namespace brindell
