#include "UiTestSupport.h"
#include "hotkey/HotkeyCombo.h"
#include "hotkey/HotkeyError.h"
#include "shell/PortalShortcut.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QThread>
#include <gtest/gtest.h>
#include <mutex>

namespace brindell {

struct FakePortalEntry {
    QString id;
    QVariantMap properties;
};

} // namespace brindell

Q_DECLARE_METATYPE(brindell::FakePortalEntry)
Q_DECLARE_METATYPE(QList<brindell::FakePortalEntry>)

namespace brindell {

QDBusArgument& operator<<(QDBusArgument& out, const FakePortalEntry& entry) {
    out.beginStructure();
    out << entry.id << entry.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, FakePortalEntry& entry) {
    in.beginStructure();
    in >> entry.id >> entry.properties;
    in.endStructure();
    return in;
}

namespace {

using testing::BusConnection;
using testing::SessionBus;
using testing::waitFor;

const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

// The GlobalShortcuts portal as xdg-desktop-portal serves it, on a thread of its own as if in
// its own process (Brindell asks it for its version with a blocking call): every call answers with
// a Request object's path, and the Request's Response signal carries the result. The desktop binds
// what it is asked for and describes the binding in its own words.
class FakeShortcutsPortal final : public QDBusVirtualObject {
public:
    explicit FakeShortcutsPortal(QDBusConnection connection) : connection_(std::move(connection)) {
        qDBusRegisterMetaType<FakePortalEntry>();
        qDBusRegisterMetaType<QList<FakePortalEntry>>();
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        const std::lock_guard lock(mutex);
        const QString member = message.member();
        const QList<QVariant> args = message.arguments();
        if (member == QLatin1String("Get")) {
            connection_.send(message.createReply(
                QVariant::fromValue(QDBusVariant(QVariant::fromValue(version)))));
            return true;
        }
        if (member == QLatin1String("Close")) {
            closed.push_back(message.path());
            connection_.send(message.createReply());
            return true;
        }
        if (member == QLatin1String("CreateSession")) {
            const QVariantMap options = qdbus_cast<QVariantMap>(args.at(0));
            session = portalPath + QStringLiteral("/session/x/") +
                      options.value(QStringLiteral("session_handle_token")).toString();
            respond(message, options, {{QStringLiteral("session_handle"), session}});
            return true;
        }
        if (member == QLatin1String("BindShortcuts")) {
            QList<FakePortalEntry> asked;
            qvariant_cast<QDBusArgument>(args.at(1)) >> asked;
            QList<FakePortalEntry> bound;
            for (const auto& entry : asked) {
                preferred.push_back(
                    entry.properties.value(QStringLiteral("preferred_trigger")).toString());
                bound.push_back({entry.id,
                                 {{QStringLiteral("description"),
                                   entry.properties.value(QStringLiteral("description"))},
                                  {QStringLiteral("trigger_description"), description}}});
            }
            respond(message, qdbus_cast<QVariantMap>(args.at(3)),
                    {{QStringLiteral("shortcuts"), QVariant::fromValue(bound)}});
            return true;
        }
        return false;
    }

    // A copy of what the portal saw, under its lock.
    template <class T> T read(const T& field) {
        const std::lock_guard lock(mutex);
        return field;
    }
    QString currentSession() { return read(session); }

    void press(const QString& id, const QString& inSession) {
        QDBusMessage signal =
            QDBusMessage::createSignal(portalPath, shortcutsInterface, QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(inSession)) << id
               << QVariant::fromValue(qulonglong(1)) << QVariantMap();
        connection_.send(signal);
    }

    void rebind(const QString& newDescription) {
        QDBusMessage signal = QDBusMessage::createSignal(portalPath, shortcutsInterface,
                                                         QStringLiteral("ShortcutsChanged"));
        const QList<FakePortalEntry> bound{
            {QStringLiteral("show-mixer"),
             {{QStringLiteral("trigger_description"), newDescription}}}};
        signal << QVariant::fromValue(QDBusObjectPath(currentSession()))
               << QVariant::fromValue(bound);
        connection_.send(signal);
    }

    std::mutex mutex;
    uint version = 1;
    QString description = QStringLiteral("Ctrl+Shift+Meta+M");
    QString session;
    QStringList preferred;
    QStringList closed;

private:
    void respond(const QDBusMessage& call, const QVariantMap& options, const QVariantMap& results) {
        QString sender = call.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString request = portalPath + QStringLiteral("/request/") + sender +
                                QLatin1Char('/') +
                                options.value(QStringLiteral("handle_token")).toString();
        connection_.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QDBusMessage response = QDBusMessage::createSignal(
            request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        response << 0u << results;
        connection_.send(response);
    }

    QDBusConnection connection_;
};

struct PortalOnBus {
    explicit PortalOnBus(const QString& address)
        : connection(address, QStringLiteral("portal")), portal(connection) {
        portal.moveToThread(&thread);
        thread.start();
    }
    ~PortalOnBus() {
        connection.unregisterObject(portalPath, QDBusConnection::UnregisterTree);
        thread.quit();
        thread.wait();
    }
    bool publish() {
        return connection.registerVirtualObject(portalPath, &portal, QDBusConnection::SubPath) &&
               connection.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }
    BusConnection connection;
    QThread thread;
    FakeShortcutsPortal portal;
};

TEST(PortalShortcut, AsksForTheRecordedCombinationAndFollowsTheDesktopsBinding) {
    SessionBus bus;
    PortalOnBus desktop(bus.address());
    ASSERT_TRUE(desktop.publish());
    BusConnection ours(bus.address(), QStringLiteral("ours"));
    {
        PortalShortcut shortcut(ours);
        int presses = 0;
        int reports = 0;
        shortcut.onTriggerChanged = [&] { ++reports; };
        shortcut.registerCombo(defaultCombo, [&] { ++presses; });
        ASSERT_TRUE(waitFor([&] { return shortcut.trigger().has_value(); }));
        EXPECT_EQ(desktop.portal.read(desktop.portal.preferred), QStringList{"CTRL+SHIFT+LOGO+m"});
        EXPECT_EQ(*shortcut.trigger(), "Ctrl+Shift+Meta+M") << "the desktop's words";
        EXPECT_EQ(reports, 1);

        desktop.portal.press(QStringLiteral("show-mixer"), desktop.portal.currentSession());
        ASSERT_TRUE(waitFor([&] { return presses == 1; }));
        // Another app's shortcut, or an old session of ours: not a press of ours.
        desktop.portal.press(QStringLiteral("other"), desktop.portal.currentSession());
        desktop.portal.press(QStringLiteral("show-mixer"), portalPath + QStringLiteral("/old"));
        desktop.portal.press(QStringLiteral("show-mixer"), desktop.portal.currentSession());
        ASSERT_TRUE(waitFor([&] { return presses >= 2; }));
        EXPECT_EQ(presses, 2);

        // Rebound in the desktop's settings.
        desktop.portal.rebind(QStringLiteral("Alt+F9"));
        ASSERT_TRUE(waitFor([&] { return reports == 2; }));
        EXPECT_EQ(*shortcut.trigger(), "Alt+F9");

        // A new combination asks again in a new session, closing the old one.
        const QString first = desktop.portal.currentSession();
        HotkeyCombo other{96, HotkeyModifiers{HotkeyModifiers::option}}; // Alt+F5
        shortcut.registerCombo(other, [&] { ++presses; });
        ASSERT_TRUE(
            waitFor([&] { return desktop.portal.read(desktop.portal.preferred).size() == 2; }));
        EXPECT_EQ(desktop.portal.read(desktop.portal.preferred).at(1), "ALT+F5");
        EXPECT_TRUE(
            waitFor([&] { return desktop.portal.read(desktop.portal.closed).contains(first); }));
    }
}

TEST(PortalShortcut, WithoutThePortalNoShortcutIsClaimed) {
    SessionBus bus;
    BusConnection ours(bus.address(), QStringLiteral("ours"));
    PortalShortcut shortcut(ours);
    EXPECT_FALSE(shortcut.isAvailable());
    try {
        shortcut.registerCombo(defaultCombo, [] {});
        ADD_FAILURE() << "registered without a portal";
    } catch (const HotkeyError& error) {
        EXPECT_EQ(error.errorCase(), HotkeyError::Case::unavailable);
    }

    // A portal of version 0 has no GlobalShortcuts worth the name.
    PortalOnBus old(bus.address());
    old.portal.version = 0;
    ASSERT_TRUE(old.publish());
    PortalShortcut again(ours);
    EXPECT_FALSE(again.isAvailable());
}

} // namespace
} // namespace brindell
