#include "shell/SingleInstance.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariantMap>

namespace brindell {

namespace {

// The standard application interface; its Activate runs onActivate (the settings window).
class ApplicationAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    ApplicationAdaptor(QObject* parent, std::function<void()> activate)
        : QDBusAbstractAdaptor(parent), activate_(std::move(activate)) {}

public slots:
    void Activate(const QVariantMap& platformData) {
        Q_UNUSED(platformData);
        activate_();
    }
    void Open(const QStringList& uris, const QVariantMap& platformData) {
        Q_UNUSED(uris);
        Q_UNUSED(platformData);
        activate_(); // Brindell opens no documents; it comes forward
    }
    void ActivateAction(const QString& name, const QVariantList& parameters,
                        const QVariantMap& platformData) {
        Q_UNUSED(name);
        Q_UNUSED(parameters);
        Q_UNUSED(platformData);
        // No actions are exported yet.
    }

private:
    std::function<void()> activate_;
};

} // namespace

SingleInstance::SingleInstance(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

SingleInstance::~SingleInstance() {
    if (role_ == Role::primary) {
        bus_.unregisterObject(QString::fromLatin1(objectPath));
        bus_.unregisterService(QString::fromLatin1(serviceName));
    }
}

SingleInstance::Role SingleInstance::claim() {
    if (!bus_.isConnected() || bus_.interface() == nullptr) {
        role_ = Role::standalone;
        return role_;
    }
    const QString name = QString::fromLatin1(serviceName);
    // Two attempts: an owner that quits between our request and our call leaves the name free.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto reply =
            bus_.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                              QDBusConnectionInterface::DontAllowReplacement);
        if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
            new ApplicationAdaptor(this, [this] { onActivate(); });
            bus_.registerObject(QString::fromLatin1(objectPath), this);
            role_ = Role::primary;
            return role_;
        }
        if (callOwner()) {
            role_ = Role::handedOver;
            return role_;
        }
    }
    // The bus refused both the name and the hand-over: run alone rather than not at all.
    role_ = Role::standalone;
    return role_;
}

bool SingleInstance::callOwner() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(serviceName), QString::fromLatin1(objectPath),
        QStringLiteral("org.freedesktop.Application"), QStringLiteral("Activate"));
    call << QVariantMap();
    const QDBusMessage reply = bus_.call(call, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        problem_.clear();
        return true;
    }
    problem_ = QStringLiteral("the running Brindell did not answer (") + reply.errorName() +
               QStringLiteral(")");
    return false;
}

} // namespace brindell

#include "SingleInstance.moc"
