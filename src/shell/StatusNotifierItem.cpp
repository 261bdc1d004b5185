#include "shell/StatusNotifierItem.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QtEndian>
#include <atomic>
#include <cmath>

namespace brindell {

// One image of the item's pixmap list: ARGB32 in network byte order.
struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;
};
using SniPixmaps = QList<SniPixmap>;

struct SniToolTip {
    QString iconName;
    SniPixmaps pixmaps;
    QString title;
    QString text;
};

} // namespace brindell

Q_DECLARE_METATYPE(brindell::SniPixmap)
Q_DECLARE_METATYPE(brindell::SniPixmaps)
Q_DECLARE_METATYPE(brindell::SniToolTip)

namespace brindell {

QDBusArgument& operator<<(QDBusArgument& out, const SniPixmap& pixmap) {
    out.beginStructure();
    out << pixmap.width << pixmap.height << pixmap.bytes;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, SniPixmap& pixmap) {
    in.beginStructure();
    in >> pixmap.width >> pixmap.height >> pixmap.bytes;
    in.endStructure();
    return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const SniToolTip& tip) {
    out.beginStructure();
    out << tip.iconName << tip.pixmaps << tip.title << tip.text;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, SniToolTip& tip) {
    in.beginStructure();
    in >> tip.iconName >> tip.pixmaps >> tip.title >> tip.text;
    in.endStructure();
    return in;
}

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString watcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");

SniPixmaps toPixmaps(const QImage& source) {
    if (source.isNull()) {
        return {};
    }
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    SniPixmap pixmap{image.width(), image.height(), {}};
    pixmap.bytes.resize(static_cast<qsizetype>(image.width()) * image.height() * 4);
    auto* out = reinterpret_cast<quint32*>(pixmap.bytes.data());
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            *out++ = qToBigEndian(line[x]);
        }
    }
    return {pixmap};
}

} // namespace

// The org.kde.StatusNotifierItem interface over the item.
class StatusNotifierItemAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(brindell::SniPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ empty)
    Q_PROPERTY(brindell::SniPixmaps OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ empty)
    Q_PROPERTY(brindell::SniPixmaps AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(brindell::SniToolTip ToolTip READ toolTip)
    // The tray calls ContextMenu for the menu and Activate for a click.
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)

public:
    explicit StatusNotifierItemAdaptor(StatusNotifierItem* item)
        : QDBusAbstractAdaptor(item), item_(item) {}

    QString category() const { return QStringLiteral("Hardware"); }
    QString id() const { return QStringLiteral("brindell"); }
    QString title() const { return QStringLiteral("Brindell"); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString iconName() const { return QString::fromLatin1(StatusNotifierItem::iconName); }
    SniPixmaps iconPixmap() const { return toPixmaps(item_->fallbackPixmap()); }
    QString empty() const { return {}; }
    SniPixmaps noPixmaps() const { return {}; }
    SniToolTip toolTip() const {
        return {QString::fromLatin1(StatusNotifierItem::iconName), {}, item_->toolTip(), {}};
    }
    bool itemIsMenu() const { return false; }

public slots:
    void Activate(int x, int y) { item_->onActivate(QPoint(x, y)); }
    void SecondaryActivate(int x, int y) { item_->onSecondaryActivate(QPoint(x, y)); }
    void ContextMenu(int x, int y) { item_->onContextMenu(QPoint(x, y)); }
    void Scroll(int delta, const QString& orientation) {
        if (const int steps = StatusNotifierItem::scrollSteps(delta, orientation); steps != 0) {
            item_->onScroll(steps);
        }
    }

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    StatusNotifierItem* item_;
};

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, QString toolTip, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), toolTip_(std::move(toolTip)) {
    static std::atomic<int> instances{0};
    serviceName_ = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                       .arg(QCoreApplication::applicationPid())
                       .arg(++instances);
    qDBusRegisterMetaType<SniPixmap>();
    qDBusRegisterMetaType<SniPixmaps>();
    qDBusRegisterMetaType<SniToolTip>();
    adaptor_ = new StatusNotifierItemAdaptor(this);
    if (!bus_.isConnected()) {
        return;
    }
    watcher_ = new QDBusServiceWatcher(watcherService, bus_,
                                       QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                setWatcherPresent(!owner.isEmpty());
                if (!owner.isEmpty()) {
                    registerWithWatcher();
                }
            });
    watcherPresent_ = bus_.interface() != nullptr &&
                      bus_.interface()->isServiceRegistered(watcherService).value();
    bus_.connect(watcherService, watcherPath, watcherInterface,
                 QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(hostRegistered()));
    bus_.connect(watcherService, watcherPath, watcherInterface,
                 QStringLiteral("StatusNotifierHostUnregistered"), this, SLOT(hostUnregistered()));
}

StatusNotifierItem::~StatusNotifierItem() {
    setPublished(false);
}

int StatusNotifierItem::scrollSteps(int delta, const QString& orientation) {
    if (delta == 0) {
        return 0;
    }
    // Some trays send one call per notch with a delta of 1, others the wheel's angle (120 a
    // notch); smooth scrolling sends small angles often.
    int steps = delta / 120;
    if (steps == 0) {
        steps = delta > 0 ? 1 : -1;
    }
    return orientation.compare(QLatin1String("horizontal"), Qt::CaseInsensitive) == 0 ||
                   orientation.compare(QLatin1String("vertical"), Qt::CaseInsensitive) == 0
               ? steps
               : 0;
}

void StatusNotifierItem::setPublished(bool published) {
    if (published == published_ || !bus_.isConnected()) {
        return;
    }
    published_ = published;
    if (published) {
        bus_.registerObject(QString::fromLatin1(objectPath), this, QDBusConnection::ExportAdaptors);
        bus_.registerService(serviceName_);
        registerWithWatcher();
        return;
    }
    // Trays drop an item whose name leaves the bus.
    bus_.unregisterService(serviceName_);
    bus_.unregisterObject(QString::fromLatin1(objectPath));
    setRegistered(false, false);
}

void StatusNotifierItem::setFallbackPixmap(const QImage& image) {
    pixmap_ = image;
    if (published_) {
        emit adaptor_->NewIcon();
    }
}

void StatusNotifierItem::registerWithWatcher() {
    if (!published_) {
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(watcherService, watcherPath, watcherInterface,
                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << serviceName_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call, 5000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (finished->isError() || !published_) {
                    setRegistered(false, false);
                    return;
                }
                readHostPresence();
            });
}

void StatusNotifierItem::readHostPresence() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    call << watcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call, 5000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *finished;
                // A watcher that cannot say is taken to have its host: it took the item.
                const bool host = !reply.isValid() || reply.value().variant().toBool();
                setRegistered(published_, host);
            });
}

void StatusNotifierItem::setWatcherPresent(bool present) {
    const bool before = watcherPresent_;
    watcherPresent_ = present;
    if (!present) {
        registered_ = false;
        hostPresent_ = false;
    }
    if (before != present || !present) {
        emit changed();
    }
}

void StatusNotifierItem::hostRegistered() {
    if (registered_) {
        setRegistered(true, true);
    }
}

void StatusNotifierItem::hostUnregistered() {
    // Another host may remain; the watcher knows.
    if (registered_) {
        readHostPresence();
    }
}

void StatusNotifierItem::setRegistered(bool registered, bool hostPresent) {
    const bool before = isShown();
    registered_ = registered;
    hostPresent_ = hostPresent;
    if (isShown() != before) {
        emit changed();
    }
}

} // namespace brindell

#include "StatusNotifierItem.moc"
