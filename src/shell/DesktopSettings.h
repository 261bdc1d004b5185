#pragma once

#include "shell/PanelTheme.h"

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>
#include <optional>

namespace brindell {

// The desktop's appearance as the panel follows it: dark style, high contrast (which also asks
// for opaque surfaces) and reduced animation, read from the XDG desktop portal's settings over
// the session bus, and from the toolkit's palette; updated when the portal reports a change.
// Without a session bus or portal, the palette alone decides.
//
// Threading: main thread only.
class DesktopSettings : public QObject {
    Q_OBJECT
public:
    // bus: the session bus, or another connection for tests.
    explicit DesktopSettings(QDBusConnection bus, QObject* parent = nullptr);

    Appearance appearance() const;
    // The desktop's colour scheme as the portal states it: dark (true) or light (false); none
    // without a portal or a preference.
    std::optional<bool> darkScheme() const;

signals:
    void changed();

private slots:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    void read(const QString& group, const QString& key);
    void apply(const QString& group, const QString& key, const QVariant& value);

    bool prefersDark_ = false;
    bool prefersLight_ = false;
    bool highContrast_ = false;
    bool gnomeHighContrast_ = false;
    bool animationsOff_ = false;
    QDBusConnection bus_;
};

// Whether windows can be translucent: a compositing window manager runs (always so on
// Wayland and offscreen).
bool compositingAvailable();

} // namespace brindell
