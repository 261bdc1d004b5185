#include "shell/DesktopSettings.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#include <xcb/xcb.h>

namespace brindell {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceGroup = QStringLiteral("org.freedesktop.appearance");
const QString gnomeInterface = QStringLiteral("org.gnome.desktop.interface");
const QString gnomeA11y = QStringLiteral("org.gnome.desktop.a11y.interface");

// The portal wraps the value in one or two variants, depending on its version.
QVariant unwrap(QVariant value) {
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>()) {
        value = qvariant_cast<QDBusVariant>(value).variant();
    }
    return value;
}

} // namespace

DesktopSettings::DesktopSettings(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    if (!bus_.isConnected()) {
        return;
    }
    // QtDBus refuses a slot whose argument types it cannot name yet.
    qRegisterMetaType<QDBusVariant>();
    bus_.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"),
                 this, SLOT(settingChanged(QString, QString, QDBusVariant)));
    read(appearanceGroup, QStringLiteral("color-scheme"));
    read(appearanceGroup, QStringLiteral("contrast"));
    read(gnomeInterface, QStringLiteral("enable-animations"));
    read(gnomeA11y, QStringLiteral("high-contrast"));
}

void DesktopSettings::read(const QString& group, const QString& key) {
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface,
                                                       QStringLiteral("Read"));
    call << group << key;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, 2000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, group, key](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QVariant> reply = *finished;
                if (reply.isValid()) {
                    apply(group, key, unwrap(reply.value()));
                }
            });
}

void DesktopSettings::settingChanged(const QString& group, const QString& key,
                                     const QDBusVariant& value) {
    apply(group, key, unwrap(value.variant()));
}

void DesktopSettings::apply(const QString& group, const QString& key, const QVariant& value) {
    const Appearance before = appearance();
    const std::optional<bool> schemeBefore = darkScheme();
    if (group == appearanceGroup && key == QLatin1String("color-scheme")) {
        prefersDark_ = value.toUInt() == 1;
        prefersLight_ = value.toUInt() == 2;
    } else if (group == appearanceGroup && key == QLatin1String("contrast")) {
        highContrast_ = value.toUInt() == 1;
    } else if (group == gnomeInterface && key == QLatin1String("enable-animations")) {
        animationsOff_ = !value.toBool();
    } else if (group == gnomeA11y && key == QLatin1String("high-contrast")) {
        gnomeHighContrast_ = value.toBool();
    } else {
        return;
    }
    if (appearance() != before || darkScheme() != schemeBefore) {
        emit changed();
    }
}

std::optional<bool> DesktopSettings::darkScheme() const {
    if (prefersDark_ || prefersLight_) {
        return prefersDark_;
    }
    return std::nullopt;
}

Appearance DesktopSettings::appearance() const {
    Appearance look;
    look.dark = prefersDark_ || PanelTheme::isDark(QApplication::palette());
    look.increaseContrast = highContrast_ || gnomeHighContrast_;
    // High contrast asks for opaque surfaces too; so does a desktop that cannot blend them.
    look.reduceTransparency = look.increaseContrast || !compositingAvailable();
    look.reduceMotion = animationsOff_;
    return look;
}

bool compositingAvailable() {
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("xcb")) {
        return true; // Wayland composites; offscreen renders with alpha
    }
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (connection == nullptr) {
        return false;
    }
    // A compositing manager owns the selection _NET_WM_CM_S<screen>.
    const QByteArray name = QByteArrayLiteral("_NET_WM_CM_S0");
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.constData()),
        nullptr);
    if (atom == nullptr) {
        return false;
    }
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
    const bool composited = owner != nullptr && owner->owner != XCB_NONE;
    std::free(owner);
    std::free(atom);
    return composited;
}

} // namespace brindell
