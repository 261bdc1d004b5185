#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QString>
#include <functional>

class QDBusServiceWatcher;

namespace brindell {

class StatusNotifierItemAdaptor;

// Brindell's own item on the StatusNotifierItem protocol: trays that speak it (KDE, the Xfce
// status tray, GNOME's AppIndicator extension) pass the click position, the middle click and
// the scroll wheel, all of which the toolkit's tray icon drops. The item registers with the
// StatusNotifierWatcher whenever one is on the bus, also one that starts later.
//
// Threading: main thread only. Ownership: owns its object on the bus and its service name.
class StatusNotifierItem : public QObject {
    Q_OBJECT
public:
    // The themed icon the tray draws in its own colours; the pixmap is for trays without it.
    static constexpr const char* iconName = "com.quorvel.taskor.brindell-symbolic";
    static constexpr const char* objectPath = "/StatusNotifierItem";

    StatusNotifierItem(QDBusConnection bus, QString toolTip, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // Publishes the item and registers it with the watcher (now or when one appears), or takes
    // it off the bus.
    void setPublished(bool published);
    bool isPublished() const { return published_; }
    // Registered with a watcher that has a host to show it.
    bool isShown() const { return published_ && registered_ && hostPresent_; }
    // A StatusNotifierWatcher is on the bus: the toolkit's tray icon would stand in for this
    // item there, so it must stay hidden.
    bool hasWatcher() const { return watcherPresent_; }
    // The service name the item is published under.
    const QString& serviceName() const { return serviceName_; }

    void setFallbackPixmap(const QImage& image);
    const QImage& fallbackPixmap() const { return pixmap_; }
    const QString& toolTip() const { return toolTip_; }

    // Screen coordinates as the tray passes them.
    std::function<void(QPoint)> onActivate = [](QPoint) {};
    std::function<void(QPoint)> onSecondaryActivate = [](QPoint) {};
    std::function<void(QPoint)> onContextMenu = [](QPoint) {};
    // Whole steps, positive for up (or right).
    std::function<void(int steps)> onScroll = [](int) {};

    // Whole steps for one Scroll call: wheel notches of 120, at least one per call.
    static int scrollSteps(int delta, const QString& orientation);

signals:
    // isShown() or hasWatcher() changed.
    void changed();

private:
    friend class StatusNotifierItemAdaptor;
    void registerWithWatcher();
    void setWatcherPresent(bool present);
    void readHostPresence();
    void setRegistered(bool registered, bool hostPresent);

private slots:
    void hostRegistered();
    void hostUnregistered();

private:
    QDBusConnection bus_;
    QString toolTip_;
    QString serviceName_;
    QImage pixmap_;
    StatusNotifierItemAdaptor* adaptor_ = nullptr;
    QDBusServiceWatcher* watcher_ = nullptr;
    bool watcherPresent_ = false;
    bool published_ = false;
    bool registered_ = false;
    bool hostPresent_ = false;
};

} // namespace brindell
