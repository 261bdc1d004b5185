#pragma once

#include <QObject>
#include <QRect>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>
#include <optional>

class QMenu;

namespace brindell {

// The tray icon: a left click toggles the panel; a right click, or a left click with Ctrl
// held, opens its menu ("Settings…", "Reset Audio", "Check for Updates…" while that is set,
// "Quit Brindell").
//
// Threading: main thread only. Ownership: owns the tray icon and its menu.
class StatusItemController : public QObject {
    Q_OBJECT
public:
    // badge: the build marker's badge, for the tooltip; none for normal builds.
    explicit StatusItemController(std::optional<QString> badge = std::nullopt);
    ~StatusItemController() override;

    std::function<void()> onToggle = [] {};
    std::function<void()> onSettings = [] {};
    std::function<void()> onResetAudio = [] {};
    // The menu entry exists only while this is set.
    void setOnCheckForUpdates(std::function<void()> action);

    // The icon's rectangle in Qt coordinates when the tray reports a visible one on a screen.
    std::optional<QRect> anchorRect() const;
    void setVisible(bool visible);
    bool isVisible() const;

    // The menu as it is shown now (rebuilt for every showing).
    QMenu* menu() const { return menu_.get(); }
    void rebuildMenu();
    QSystemTrayIcon& trayIcon() { return tray_; }

    // A click on the icon: the reason the tray gives, and the modifiers held.
    void activated(QSystemTrayIcon::ActivationReason reason, Qt::KeyboardModifiers modifiers);

private:
    QSystemTrayIcon tray_;
    std::unique_ptr<QMenu> menu_;
    std::function<void()> onCheckForUpdates_;
};

} // namespace brindell
