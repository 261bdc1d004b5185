#pragma once

#include <QObject>
#include <QRect>
#include <QSystemTrayIcon>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMenu;

namespace brindell {

class SettingsStorage;

// The tray icon: a left click toggles the panel; a right click, or a left click with Ctrl
// held, opens its menu ("Settings…", "Reset Audio", "Check for Updates…" while that is set,
// "Quit Brindell").
//
// Threading: main thread only. Ownership: owns the tray icon and its menu.
class StatusItemController : public QObject {
    Q_OBJECT
public:
    // badge: the build marker's badge, for the tooltip; none for normal builds.
    // visibility: where the icon's visibility is kept across launches ("BrindellStatusItem"),
    // as {"version":1,"visible":BOOL}; none keeps it for this run only. A missing or unreadable
    // record shows the icon.
    explicit StatusItemController(std::optional<QString> badge = std::nullopt,
                                  std::shared_ptr<SettingsStorage> visibility = nullptr);
    ~StatusItemController() override;

    std::function<void()> onToggle = [] {};
    std::function<void()> onSettings = [] {};
    std::function<void()> onResetAudio = [] {};
    // The menu entry exists only while this is set.
    void setOnCheckForUpdates(std::function<void()> action);

    // The icon's rectangle in Qt coordinates when the tray reports a visible one on a screen.
    std::optional<QRect> anchorRect() const;
    // Shows or hides the icon and remembers the choice.
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
    std::shared_ptr<SettingsStorage> visibility_;
};

// The visibility record: encoded, and decoded (none for anything but a version 1 record with
// a boolean "visible").
std::vector<std::uint8_t> encodeIconVisibility(bool visible);
std::optional<bool> decodeIconVisibility(const std::vector<std::uint8_t>& blob);

} // namespace brindell
