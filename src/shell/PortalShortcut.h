#pragma once

#include "hotkey/HotkeyRegistrar.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

namespace brindell {

// The global shortcut through the desktop's GlobalShortcuts portal, for Wayland sessions, where
// no application may grab keys itself. Brindell asks for its one shortcut ("Show mixer") with
// the recorded combination as the preferred trigger; the desktop decides the binding and says
// which it chose, and calls back on each press.
//
// Threading: main thread only; the handler runs on the main thread.
class PortalShortcut final : public QObject, public HotkeyRegistrar {
    Q_OBJECT
public:
    static constexpr const char* shortcutId = "show-mixer";

    // bus: the session bus, or another connection for tests.
    explicit PortalShortcut(QDBusConnection bus, QObject* parent = nullptr);
    ~PortalShortcut() override;

    // The portal offers GlobalShortcuts (version 1 or later); asked once, at first use.
    bool isAvailable();

    // Throws HotkeyError unavailable without the portal; otherwise asks the desktop (again) and
    // returns at once: the desktop's answer comes later through trigger().
    void registerCombo(const HotkeyCombo& combo, std::function<void()> handler) override;
    void unregister() override;

    // The binding as the desktop describes it ("Ctrl+Shift+Super+M"); none until it says.
    const std::optional<QString>& trigger() const { return trigger_; }
    // The desktop reported a binding, or a new one.
    std::function<void()> onTriggerChanged = [] {};

    // The combination in the portal's trigger format: "CTRL+SHIFT+LOGO+m".
    static QString preferredTrigger(const HotkeyCombo& combo);

private slots:
    void activated(const QDBusMessage& message);
    void shortcutsChanged(const QDBusMessage& message);

private:
    void createSession();
    void bind();
    void closeSession();
    // Calls method with a fresh handle token and runs onResponse with the Request's results.
    void request(const QString& method, QList<QVariant> arguments, QVariantMap options,
                 std::function<void(uint code, const QVariantMap& results)> onResponse);
    void readShortcuts(const QVariant& shortcuts);

    QDBusConnection bus_;
    std::optional<bool> available_;
    std::function<void()> handler_;
    QString preferred_;
    QString session_;
    bool creatingSession_ = false;
    std::optional<QString> trigger_;
    int tokens_ = 0;
};

} // namespace brindell
