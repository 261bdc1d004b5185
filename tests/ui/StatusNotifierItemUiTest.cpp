#include "UiTestSupport.h"
#include "shell/StatusItemController.h"
#include "shell/StatusNotifierItem.h"

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QMenu>
#include <gtest/gtest.h>

namespace brindell {
namespace {

using testing::BusConnection;
using testing::SessionBus;
using testing::waitFor;

// A tray's StatusNotifierWatcher, as KDE's or Xfce's status tray serves it.
class FakeWatcher final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    explicit FakeWatcher(QObject* parent) : QDBusAbstractAdaptor(parent) {}
    bool hostRegistered() const { return host; }
    int protocolVersion() const { return 0; }

    QStringList items;
    bool host = true;

public slots:
    void RegisterStatusNotifierItem(const QString& service) { items.push_back(service); }
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierHostRegistered();
    void StatusNotifierHostUnregistered();
};

// The watcher on its own connection; the host (the tray) calls the item from a third.
struct Tray {
    explicit Tray(const QString& address)
        : connection(address, QStringLiteral("tray")), watcher(new FakeWatcher(&root)) {}

    bool start() {
        return connection.registerObject(QStringLiteral("/StatusNotifierWatcher"), &root) &&
               connection.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }
    void stop() {
        connection.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
        connection.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
    }

    QDBusMessage call(const QString& service, const QString& method, const QVariantList& args) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(service, QStringLiteral("/StatusNotifierItem"),
                                           QStringLiteral("org.kde.StatusNotifierItem"), method);
        message.setArguments(args);
        return connection.call(message, QDBus::BlockWithGui, 5000);
    }
    QVariant property(const QString& service, const QString& name) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            service, QStringLiteral("/StatusNotifierItem"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        message << QStringLiteral("org.kde.StatusNotifierItem") << name;
        const QDBusMessage reply = connection.call(message, QDBus::BlockWithGui, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            return {};
        }
        return qvariant_cast<QDBusVariant>(reply.arguments().at(0)).variant();
    }
    bool hasOwner(const QString& service) {
        return connection.interface()->isServiceRegistered(service).value();
    }

    BusConnection connection;
    QObject root;
    FakeWatcher* watcher;
};

struct Item {
    explicit Item(const QString& address)
        : connection(address, QStringLiteral("brindell")),
          status(std::make_unique<StatusItemController>(std::nullopt, nullptr, connection)) {}
    QString service() { return status->notifierItem().serviceName(); }

    BusConnection connection;
    std::unique_ptr<StatusItemController> status;
};

// Until a tray's watcher is there the toolkit's icon shows; a watcher without a host shows
// nothing until one registers; then the tray takes the item, clicks it and reads its icon.
TEST(StatusNotifierItem, TakesOverFromTheToolkitIconOnceATrayIsThereAndTakesItsClicks) {
    SessionBus bus;
    Item item(bus.address());
    Tray tray(bus.address());
    EXPECT_TRUE(item.status->trayIcon().isVisible()) << "no watcher: the toolkit's icon";
    EXPECT_FALSE(item.status->notifierItem().isShown());

    tray.watcher->host = false;
    ASSERT_TRUE(tray.start());
    ASSERT_TRUE(waitFor([&] { return tray.watcher->items.size() == 1; }));
    waitFor([] { return false; }, 200);
    EXPECT_FALSE(item.status->isReachable());
    EXPECT_FALSE(item.status->trayIcon().isVisible());
    EXPECT_TRUE(item.status->trayPresent());
    tray.watcher->host = true;
    emit tray.watcher->StatusNotifierHostRegistered();
    ASSERT_TRUE(waitFor([&] { return item.status->isReachable(); }));
    ASSERT_TRUE(waitFor([&] { return item.status->notifierItem().isShown(); }));
    EXPECT_EQ(tray.watcher->items, QStringList{item.service()});
    EXPECT_TRUE(tray.hasOwner(item.service()));
    EXPECT_FALSE(item.status->trayIcon().isVisible()) << "one icon, not two";

    // Hidden in settings: the name leaves the bus, so the tray drops the item.
    item.status->setVisible(false);
    EXPECT_TRUE(waitFor([&] { return !tray.hasOwner(item.service()); }));
    EXPECT_FALSE(item.status->isReachable());
    EXPECT_FALSE(item.status->trayIcon().isVisible());
    item.status->setVisible(true);
    ASSERT_TRUE(waitFor([&] { return item.status->notifierItem().isShown(); }));
    EXPECT_EQ(tray.watcher->items.size(), 2);

    int toggles = 0;
    int mutes = 0;
    std::vector<int> steps;
    item.status->onToggle = [&] { ++toggles; };
    item.status->onToggleMasterMute = [&] { ++mutes; };
    item.status->onMasterSteps = [&](int n) { steps.push_back(n); };

    tray.call(item.service(), QStringLiteral("Activate"), {1500, 12});
    EXPECT_EQ(toggles, 1);
    EXPECT_EQ(item.status->clickPoint(), QPoint(1500, 12)) << "the panel's anchor";

    tray.call(item.service(), QStringLiteral("Scroll"), {120, QStringLiteral("vertical")});
    tray.call(item.service(), QStringLiteral("Scroll"), {-240, QStringLiteral("vertical")});
    tray.call(item.service(), QStringLiteral("Scroll"), {-1, QStringLiteral("vertical")});
    tray.call(item.service(), QStringLiteral("Scroll"), {15, QStringLiteral("horizontal")});
    tray.call(item.service(), QStringLiteral("Scroll"), {0, QStringLiteral("vertical")});
    EXPECT_EQ(steps, (std::vector<int>{1, -2, -1, 1}));

    tray.call(item.service(), QStringLiteral("SecondaryActivate"), {1500, 12});
    EXPECT_EQ(mutes, 1);
    EXPECT_EQ(toggles, 1);

    tray.call(item.service(), QStringLiteral("ContextMenu"), {1400, 20});
    EXPECT_TRUE(item.status->menu()->isVisible());
    EXPECT_EQ(item.status->menu()->actions().size(), 4);
    item.status->menu()->hide();

    EXPECT_EQ(tray.property(item.service(), QStringLiteral("IconName")).toString(),
              "com.quorvel.taskor.brindell-symbolic");
    // The package installs the tray's drawing under that name. GTK trays recolour a symbolic
    // icon's fills only: a stroke would stay black on a dark panel.
    QFile drawing(QStringLiteral(":/brindell/MenuBarIcon.svg"));
    ASSERT_TRUE(drawing.open(QIODevice::ReadOnly));
    const QByteArray svg = drawing.readAll();
    EXPECT_TRUE(svg.contains("fill=")) << svg.toStdString();
    EXPECT_FALSE(svg.contains("stroke")) << svg.toStdString();
    EXPECT_EQ(tray.property(item.service(), QStringLiteral("Status")).toString(), "Active");
    EXPECT_FALSE(tray.property(item.service(), QStringLiteral("ItemIsMenu")).toBool());

    // a(iiay): one image, ARGB in network byte order, with opaque pixels in it.
    const QVariant pixmaps = tray.property(item.service(), QStringLiteral("IconPixmap"));
    ASSERT_EQ(pixmaps.userType(), qMetaTypeId<QDBusArgument>());
    const auto argument = qvariant_cast<QDBusArgument>(pixmaps);
    argument.beginArray();
    ASSERT_FALSE(argument.atEnd());
    int width = 0;
    int height = 0;
    QByteArray bytes;
    argument.beginStructure();
    argument >> width >> height >> bytes;
    argument.endStructure();
    argument.endArray();
    EXPECT_EQ(QSize(width, height), QSize(64, 64));
    ASSERT_EQ(bytes.size(), width * height * 4);
    int opaque = 0;
    for (qsizetype i = 0; i < bytes.size(); i += 4) {
        opaque += static_cast<unsigned char>(bytes[i]) == 255 ? 1 : 0; // alpha comes first
    }
    EXPECT_GT(opaque, width * height / 20);

    // (sa(iiay)ss): icon name, pixmaps, title, text.
    const QVariant tip = tray.property(item.service(), QStringLiteral("ToolTip"));
    ASSERT_EQ(tip.userType(), qMetaTypeId<QDBusArgument>());
    EXPECT_EQ(qvariant_cast<QDBusArgument>(tip).currentSignature(), "(sa(iiay)ss)");

    // The tray goes away: the toolkit's icon stands in again.
    tray.stop();
    ASSERT_TRUE(waitFor([&] { return item.status->trayIcon().isVisible(); }));
    EXPECT_FALSE(item.status->notifierItem().isShown());
}

} // namespace
} // namespace brindell

#include "StatusNotifierItemUiTest.moc"
