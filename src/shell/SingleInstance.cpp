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

SingleInstance::SingleInstance(QDBusConnection bus, QObject* parent, int answerTimeoutMs)
    : QObject(parent), bus_(std::move(bus)), answerTimeoutMs_(answerTimeoutMs) {}

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
    const QString path = QString::fromLatin1(objectPath);
    // The object answers before the name is ours: a call the bus queued while it started this
    // Brindell for `brindell ctl` arrives the moment the name is taken.
    auto* adaptor = new ApplicationAdaptor(this, [this] { onActivate(); });
    bus_.registerObject(path, this);
    // Two attempts: an owner that quits between our request and our call leaves the name free.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto reply =
            bus_.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                              QDBusConnectionInterface::DontAllowReplacement);
        if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
            role_ = Role::primary;
            return role_;
        }
        const Answer answer = callOwner();
        if (answer == Answer::ownerGone) {
            continue;
        }
        bus_.unregisterObject(path);
        delete adaptor;
        role_ = answer == Answer::answered ? Role::handedOver : Role::unanswered;
        return role_;
    }
    // The bus gives the name to no one: run alone rather than not at all.
    bus_.unregisterObject(path);
    delete adaptor;
    problem_ = QStringLiteral("the session bus did not give Brindell its name");
    role_ = Role::standalone;
    return role_;
}

SingleInstance::Answer SingleInstance::callOwner() {
    const QString name = QString::fromLatin1(serviceName);
    QDBusMessage call = QDBusMessage::createMethodCall(
        name, QString::fromLatin1(objectPath), QStringLiteral("org.freedesktop.Application"),
        QStringLiteral("Activate"));
    call << QVariantMap();
    // Only a running owner: the bus must not start another Brindell for this call.
    call.setAutoStartService(false);
    const QDBusMessage reply = bus_.call(call, QDBus::Block, answerTimeoutMs_);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        problem_.clear();
        return Answer::answered;
    }
    const QString error = reply.errorName();
    if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        return Answer::ownerGone;
    }
    const uint pid = bus_.interface()->servicePid(name).value();
    const bool silent = error == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
                        error == QLatin1String("org.freedesktop.DBus.Error.Timeout");
    problem_ =
        QStringLiteral("Brindell is already running") +
        (pid > 0 ? QStringLiteral(" (process %1)").arg(pid) : QString()) +
        (silent ? QStringLiteral(" but did not answer within %1 s").arg(answerTimeoutMs_ / 1000.0)
                : QStringLiteral(" but refused to come forward (%1)").arg(error)) +
        QStringLiteral("; not starting a second one");
    return Answer::none;
}

} // namespace brindell

#include "SingleInstance.moc"
