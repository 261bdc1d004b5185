#include "UiTestSupport.h"
#include "shell/DesktopSettings.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QMap>
#include <gtest/gtest.h>

namespace brindell {
namespace {

using testing::BusConnection;
using testing::SessionBus;
using testing::waitFor;

// The desktop portal's settings as a desktop would serve them: Read answers with the value
// wrapped in a second variant, as portals before version 2 do.
class FakePortal final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    explicit FakePortal(QObject* parent) : QDBusAbstractAdaptor(parent) {}
    QMap<QString, QVariant> values;

public slots:
    QDBusVariant Read(const QString& group, const QString& key) {
        const QVariant value = values.value(group + QLatin1Char('/') + key);
        return QDBusVariant(QVariant::fromValue(QDBusVariant(value)));
    }
};

struct PortalOnBus {
    explicit PortalOnBus(const QString& address)
        : connection(address, QStringLiteral("portal")), portal(new FakePortal(&root)) {}
    bool publish() {
        return connection.registerService(QStringLiteral("org.freedesktop.portal.Desktop")) &&
               connection.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &root);
    }

    // The portal announces a changed setting.
    void change(const QString& group, const QString& key, const QVariant& value) {
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("SettingChanged"));
        signal << group << key << QVariant::fromValue(QDBusVariant(value));
        connection.send(signal);
    }

    BusConnection connection;
    QObject root;
    FakePortal* portal;
};

TEST(DesktopSettings, WithoutAPortalThePaletteDecidesWithOneItFollowsDarkStyleContrastAndMotion) {
    SessionBus bus;
    BusConnection ours(bus.address(), QStringLiteral("ours"));
    {
        DesktopSettings alone(ours);
        testing::settle();
        const Appearance look = alone.appearance();
        EXPECT_EQ(look.dark, PanelTheme::isDark(QGuiApplication::palette()));
        EXPECT_FALSE(look.increaseContrast);
        EXPECT_FALSE(look.reduceMotion);
        EXPECT_FALSE(look.reduceTransparency) << "the offscreen platform blends";
    }

    PortalOnBus desktop(bus.address());
    desktop.portal->values = {
        {QStringLiteral("org.freedesktop.appearance/color-scheme"), QVariant::fromValue(1u)},
        {QStringLiteral("org.freedesktop.appearance/contrast"), QVariant::fromValue(0u)},
        {QStringLiteral("org.gnome.desktop.interface/enable-animations"), false},
        {QStringLiteral("org.gnome.desktop.a11y.interface/high-contrast"), false},
    };
    ASSERT_TRUE(desktop.publish());
    DesktopSettings settings(ours);
    int changes = 0;
    QObject::connect(&settings, &DesktopSettings::changed, [&] { ++changes; });
    ASSERT_TRUE(waitFor([&] { return settings.appearance().reduceMotion; }));
    EXPECT_TRUE(settings.appearance().dark);
    EXPECT_FALSE(settings.appearance().increaseContrast);

    // High contrast arrives later: stronger edges and an opaque panel.
    desktop.change(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("contrast"),
                   QVariant::fromValue(1u));
    ASSERT_TRUE(waitFor([&] { return settings.appearance().increaseContrast; }));
    EXPECT_TRUE(settings.appearance().reduceTransparency);
    EXPECT_GE(changes, 2);

    // Unrelated settings change nothing.
    const int before = changes;
    desktop.change(QStringLiteral("org.gnome.desktop.interface"), QStringLiteral("clock-format"),
                   QStringLiteral("24h"));
    desktop.change(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"),
                   QVariant::fromValue(0u));
    ASSERT_TRUE(waitFor([&] { return !settings.appearance().dark; }));
    EXPECT_EQ(changes, before + 1);
}

} // namespace
} // namespace brindell

#include "DesktopSettingsUiTest.moc"
