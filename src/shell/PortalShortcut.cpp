#include "shell/PortalShortcut.h"

#include "hotkey/HotkeyError.h"
#include "hotkey/x11/X11HotkeyRegistrar.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusVariant>
#include <QPointer>

namespace brindell {

// One shortcut as the portal lists them: a(sa{sv}).
struct PortalShortcutEntry {
    QString id;
    QVariantMap properties;
};
using PortalShortcutEntries = QList<PortalShortcutEntry>;

} // namespace brindell

Q_DECLARE_METATYPE(brindell::PortalShortcutEntry)
Q_DECLARE_METATYPE(brindell::PortalShortcutEntries)

namespace brindell {

QDBusArgument& operator<<(QDBusArgument& out, const PortalShortcutEntry& entry) {
    out.beginStructure();
    out << entry.id << entry.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, PortalShortcutEntry& entry) {
    in.beginStructure();
    in >> entry.id >> entry.properties;
    in.endStructure();
    return in;
}

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

QString pathText(const QVariant& value) {
    if (value.userType() == qMetaTypeId<QDBusObjectPath>()) {
        return qvariant_cast<QDBusObjectPath>(value).path();
    }
    return value.toString();
}

} // namespace

// Waits for one Request object's Response signal.
class PortalRequest final : public QObject {
    Q_OBJECT
public:
    PortalRequest(std::function<void(uint, const QVariantMap&)> onResponse, QObject* parent)
        : QObject(parent), onResponse_(std::move(onResponse)) {}

    // The call failed, so no Request will answer: ends it as the portal's "other" (2).
    [[gnu::noinline]] void fail() { response(2, {}); }

public slots:
    void response(uint code, const QVariantMap& results) {
        const auto done = std::move(onResponse_);
        deleteLater();
        if (done) {
            done(code, results);
        }
    }

private:
    std::function<void(uint, const QVariantMap&)> onResponse_;
};

PortalShortcut::PortalShortcut(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    qDBusRegisterMetaType<PortalShortcutEntry>();
    qDBusRegisterMetaType<PortalShortcutEntries>();
    if (!bus_.isConnected()) {
        return;
    }
    bus_.connect(portalService, portalPath, shortcutsInterface, QStringLiteral("Activated"), this,
                 SLOT(activated(QDBusMessage)));
    bus_.connect(portalService, portalPath, shortcutsInterface, QStringLiteral("ShortcutsChanged"),
                 this, SLOT(shortcutsChanged(QDBusMessage)));
}

PortalShortcut::~PortalShortcut() {
    closeSession();
}

bool PortalShortcut::isAvailable() {
    if (!available_) {
        available_ = false;
        if (bus_.isConnected()) {
            QDBusMessage call = QDBusMessage::createMethodCall(
                portalService, portalPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                QStringLiteral("Get"));
            call << shortcutsInterface << QStringLiteral("version");
            const QDBusReply<QDBusVariant> reply = bus_.call(call, QDBus::Block, 2000);
            available_ = reply.isValid() && reply.value().variant().toUInt() >= 1;
        }
    }
    return *available_;
}

QString PortalShortcut::preferredTrigger(const HotkeyCombo& combo) {
    QStringList parts;
    if (combo.modifiers.has(HotkeyModifiers::control)) {
        parts << QStringLiteral("CTRL");
    }
    if (combo.modifiers.has(HotkeyModifiers::option)) {
        parts << QStringLiteral("ALT");
    }
    if (combo.modifiers.has(HotkeyModifiers::shift)) {
        parts << QStringLiteral("SHIFT");
    }
    if (combo.modifiers.has(HotkeyModifiers::command)) {
        parts << QStringLiteral("LOGO");
    }
    const auto key = keysymName(combo.keyCode);
    if (!key) {
        return {};
    }
    parts << QString::fromStdString(*key);
    return parts.join(QLatin1Char('+'));
}

void PortalShortcut::registerCombo(const HotkeyCombo& combo, std::function<void()> handler) {
    if (!isAvailable()) {
        throw HotkeyError(HotkeyError::Case::unavailable);
    }
    handler_ = std::move(handler);
    preferred_ = preferredTrigger(combo);
    // A session binds once: a new combination asks again in a new session.
    closeSession();
    createSession();
}

void PortalShortcut::unregister() {
    handler_ = nullptr;
    closeSession();
}

void PortalShortcut::request(const QString& method, QList<QVariant> arguments, QVariantMap options,
                             std::function<void(uint, const QVariantMap&)> onResponse) {
    const QString token = QStringLiteral("brindell%1").arg(++tokens_);
    options.insert(QStringLiteral("handle_token"), token);
    // The Request's path is known before the call, so its Response cannot be missed.
    QString sender = bus_.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString path =
        portalPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
    auto* pending = new PortalRequest(std::move(onResponse), this);
    bus_.connect(portalService, path, QStringLiteral("org.freedesktop.portal.Request"),
                 QStringLiteral("Response"), pending, SLOT(response(uint, QVariantMap)));
    QDBusMessage call =
        QDBusMessage::createMethodCall(portalService, portalPath, shortcutsInterface, method);
    arguments << options;
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, 10000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [guard = QPointer<PortalRequest>(pending)](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                // A failed call has no Request to answer it: end it as the portal's "other".
                if (PortalRequest* target = guard.data();
                    target != nullptr && finished->isError()) {
                    target->fail();
                }
            });
}

void PortalShortcut::createSession() {
    if (creatingSession_) {
        return;
    }
    creatingSession_ = true;
    QVariantMap options{
        {QStringLiteral("session_handle_token"), QStringLiteral("brindell%1").arg(++tokens_)}};
    request(QStringLiteral("CreateSession"), {}, options,
            [this](uint code, const QVariantMap& results) {
                creatingSession_ = false;
                if (code != 0) {
                    return; // refused or cancelled: no shortcut this run
                }
                session_ = pathText(results.value(QStringLiteral("session_handle")));
                if (!session_.isEmpty()) {
                    bind();
                }
            });
}

void PortalShortcut::bind() {
    QVariantMap properties{{QStringLiteral("description"), QStringLiteral("Show mixer")}};
    if (!preferred_.isEmpty()) {
        properties.insert(QStringLiteral("preferred_trigger"), preferred_);
    }
    const PortalShortcutEntries shortcuts{{QString::fromLatin1(shortcutId), properties}};
    const QString session = session_;
    request(
        QStringLiteral("BindShortcuts"),
        {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts), QString()},
        {}, [this, session](uint code, const QVariantMap& results) {
            if (code == 0 && session == session_) {
                readShortcuts(results.value(QStringLiteral("shortcuts")));
            }
        });
}

void PortalShortcut::closeSession() {
    if (session_.isEmpty() || !bus_.isConnected()) {
        return;
    }
    bus_.call(QDBusMessage::createMethodCall(portalService, session_,
                                             QStringLiteral("org.freedesktop.portal.Session"),
                                             QStringLiteral("Close")),
              QDBus::NoBlock);
    session_.clear();
}

void PortalShortcut::readShortcuts(const QVariant& shortcuts) {
    if (shortcuts.userType() != qMetaTypeId<QDBusArgument>()) {
        return;
    }
    PortalShortcutEntries entries;
    qvariant_cast<QDBusArgument>(shortcuts) >> entries;
    for (const auto& entry : entries) {
        if (entry.id != QLatin1String(shortcutId)) {
            continue;
        }
        const QString description =
            entry.properties.value(QStringLiteral("trigger_description")).toString();
        std::optional<QString> trigger;
        if (!description.isEmpty()) {
            trigger = description;
        }
        if (trigger != trigger_) {
            trigger_ = trigger;
            onTriggerChanged();
        }
    }
}

void PortalShortcut::activated(const QDBusMessage& message) {
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2 || session_.isEmpty() || pathText(arguments.at(0)) != session_ ||
        arguments.at(1).toString() != QLatin1String(shortcutId)) {
        return;
    }
    // A copy: the handler may register again.
    if (const auto handler = handler_) {
        handler();
    }
}

void PortalShortcut::shortcutsChanged(const QDBusMessage& message) {
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2 || session_.isEmpty() || pathText(arguments.at(0)) != session_) {
        return;
    }
    readShortcuts(arguments.at(1));
}

} // namespace brindell

#include "PortalShortcut.moc"
