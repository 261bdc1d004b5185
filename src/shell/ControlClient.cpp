#include "shell/ControlClient.h"

#include "control/ControlCommand.h"
#include "shell/ControlBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QObject>
#include <cstdio>

namespace brindell {

namespace {

using Action = ControlCommand::Action;

constexpr int notRunning = 1;
constexpr int badInput = 2;
// A running Brindell answers at once, one the bus starts for the call within seconds; a hung one
// should not hang a shortcut for long.
constexpr int callTimeoutMs = 10000;

int fail(int status, const std::string& message) {
    std::fprintf(stderr, "brindell ctl: %s\n", message.c_str());
    return status;
}

// A failed call, as an exit status and its message.
struct CallFailure {
    int status;
    std::string message;
};

class Client {
public:
    explicit Client(QDBusConnection bus) : bus_(std::move(bus)) {}

    // The reply's arguments; throws CallFailure.
    QList<QVariant> call(const char* method, const QList<QVariant>& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QString::fromLatin1(controlbus::serviceName),
            QString::fromLatin1(controlbus::objectPath),
            QString::fromLatin1(controlbus::interfaceName), QString::fromLatin1(method));
        message.setArguments(arguments);
        const QDBusMessage reply = bus_.call(message, QDBus::Block, callTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage) {
            return reply.arguments();
        }
        throw failure(reply);
    }

private:
    static CallFailure failure(const QDBusMessage& reply) {
        const QString name = reply.errorName();
        const std::string text = reply.errorMessage().toStdString();
        for (const char* refused :
             {controlbus::invalidArgs, controlbus::noSuchApp, controlbus::noSuchOutput,
              controlbus::ambiguous, controlbus::notSupported}) {
            if (name == QLatin1String(refused)) {
                return {badInput, text};
            }
        }
        if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
            name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
            name == QLatin1String(controlbus::unavailable)) {
            return {notRunning, "Brindell is not running."};
        }
        if (name.startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn."))) {
            return {notRunning, "Brindell is not running and could not be started: " +
                                    (text.empty() ? name.toStdString() : text) + "."};
        }
        if (name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
            name == QLatin1String("org.freedesktop.DBus.Error.Timeout")) {
            return {notRunning, "The running Brindell did not answer."};
        }
        if (name == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod") ||
            name == QLatin1String("org.freedesktop.DBus.Error.UnknownInterface") ||
            name == QLatin1String("org.freedesktop.DBus.Error.UnknownObject")) {
            return {notRunning, "The running Brindell does not offer this command (" +
                                    name.toStdString() + ")."};
        }
        return {notRunning, "The call to Brindell failed: " + name.toStdString() +
                                (text.empty() ? "" : " (" + text + ")") + "."};
    }

    QDBusConnection bus_;
};

template <class T> QList<T> listFrom(const QList<QVariant>& arguments) {
    if (arguments.isEmpty()) {
        throw CallFailure{notRunning, "The running Brindell gave an empty answer."};
    }
    return qdbus_cast<QList<T>>(arguments.front());
}

std::vector<ControlApp> apps(Client& client) {
    std::vector<ControlApp> list;
    for (const auto& app : listFrom<controlbus::App>(client.call("ListApps"))) {
        list.push_back(controlbus::fromBus(app));
    }
    return list;
}

std::vector<ControlOutput> outputs(Client& client) {
    std::vector<ControlOutput> list;
    for (const auto& output : listFrom<controlbus::Output>(client.call("ListOutputs"))) {
        list.push_back(controlbus::fromBus(output));
    }
    return list;
}

std::optional<ControlMaster> master(Client& client) {
    const auto arguments = client.call("GetMaster");
    if (arguments.isEmpty()) {
        throw CallFailure{notRunning, "The running Brindell gave an empty answer."};
    }
    return controlbus::masterFromBus(qdbus_cast<QVariantMap>(arguments.front()));
}

// The levels of the apps; none from a Brindell that does not measure them.
std::optional<MixerLevels> levels(Client& client) {
    try {
        const auto arguments = client.call("GetLevels");
        if (arguments.isEmpty()) {
            return std::nullopt;
        }
        return controlbus::levelsFromBus(qdbus_cast<controlbus::Levels>(arguments.front()));
    } catch (const CallFailure&) {
        return std::nullopt;
    }
}

void print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
}

// `ctl watch`: prints the apps at once and again after every Changed signal that changed them,
// until interrupted or Brindell goes away.
class Watcher : public QObject {
    Q_OBJECT
public:
    Watcher(Client& client, bool json) : client_(client), json_(json) {}

    int status = 0;

public slots:
    void onChanged() {
        std::vector<ControlApp> now;
        try {
            now = apps(client_);
        } catch (const CallFailure& failure) {
            finish(fail(failure.status, failure.message));
            return;
        }
        if (last_ && *last_ == now) {
            return; // a change of the outputs or the master only
        }
        print(json_ ? jsonLine(appsJson(now)) : appsLine(now));
        std::fflush(stdout);
        last_ = std::move(now);
    }
    void onGone() { finish(fail(notRunning, "Brindell is not running any more.")); }

private:
    void finish(int code) {
        status = code;
        QCoreApplication::exit(code);
    }

    Client& client_;
    bool json_;
    std::optional<std::vector<ControlApp>> last_;
};

int watch(QDBusConnection& bus, Client& client, bool json) {
    Watcher watcher(client, json);
    // Subscribed before the first list, so no change falls between the two.
    if (!bus.connect(QString::fromLatin1(controlbus::serviceName),
                     QString::fromLatin1(controlbus::objectPath),
                     QString::fromLatin1(controlbus::interfaceName), QStringLiteral("Changed"),
                     &watcher, SLOT(onChanged()))) {
        return fail(notRunning, "Cannot follow Brindell's changes: " +
                                    bus.lastError().message().toStdString() + ".");
    }
    QDBusServiceWatcher gone(QString::fromLatin1(controlbus::serviceName), bus,
                             QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(&gone, &QDBusServiceWatcher::serviceUnregistered, &watcher, &Watcher::onGone);
    watcher.onChanged();
    if (watcher.status != 0) {
        return watcher.status;
    }
    return QCoreApplication::exec();
}

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

void perform(const ControlCommand& command, Client& client) {
    const QString app = q(command.app);
    switch (command.action) {
    case Action::help:
        print(controlHelpText());
        return;
    case Action::watch:
        return; // runs its own loop
    case Action::list: {
        const auto list = apps(client);
        if (command.json) {
            const auto measured = levels(client);
            print(jsonText(measured ? appsJson(list, *measured) : appsJson(list)));
        } else {
            print(appsTable(list, outputs(client)));
        }
        return;
    }
    case Action::outputs: {
        const auto list = outputs(client);
        print(command.json ? jsonText(outputsJson(list)) : outputsTable(list));
        return;
    }
    case Action::master: {
        const auto state = master(client);
        print(command.json ? jsonText(masterJson(state)) : masterText(state));
        return;
    }
    case Action::setVolume:
        if (command.volume.relative) {
            client.call("AdjustVolume", {app, command.volume.amount});
        } else {
            client.call("SetVolume", {app, command.volume.amount});
        }
        return;
    case Action::mute:
    case Action::unmute:
        client.call("SetMuted", {app, command.action == Action::mute});
        return;
    case Action::toggleMute:
        client.call("ToggleMuted", {app});
        return;
    case Action::setOutput:
        client.call("SetOutput", {app, q(command.followDefault ? "" : command.device)});
        return;
    case Action::forget:
        client.call("Forget", {app});
        return;
    case Action::forgetAll:
        client.call("ForgetAll");
        return;
    case Action::setMasterVolume:
        if (command.volume.relative) {
            client.call("AdjustMasterVolume", {command.volume.amount});
        } else {
            client.call("SetMasterVolume", {command.volume.amount});
        }
        return;
    case Action::masterMute:
    case Action::masterUnmute:
        client.call("SetMasterMuted", {command.action == Action::masterMute});
        return;
    case Action::masterToggleMute:
        client.call("ToggleMasterMuted");
        return;
    case Action::defaultOutput:
        client.call("SetDefaultOutput", {q(command.device)});
        return;
    case Action::toggle:
        client.call("TogglePanel");
        return;
    case Action::show:
        client.call("ShowPanel");
        return;
    case Action::settings:
        client.call("OpenSettings");
        return;
    }
}

} // namespace

int runControl(const std::vector<std::string>& args) {
    ControlCommand command;
    try {
        command = parseControlCommand(args);
    } catch (const ControlRequestError& error) {
        return fail(badInput, error.what());
    }
    if (command.action == Action::help) {
        print(controlHelpText());
        return 0;
    }

    // The bus client needs an application object, but no display.
    int argc = 1;
    char name[] = "brindell";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    controlbus::registerTypes();

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return fail(notRunning, "Brindell is not running: there is no session bus (" +
                                    bus.lastError().message().toStdString() + ").");
    }
    // With its service file installed, the bus starts Brindell for the call.
    const QString service = QString::fromLatin1(controlbus::serviceName);
    if (bus.interface() == nullptr ||
        (!bus.interface()->isServiceRegistered(service) &&
         !bus.interface()->activatableServiceNames().value().contains(service))) {
        return fail(notRunning, "Brindell is not running.");
    }
    Client client(bus);
    if (command.action == Action::watch) {
        return watch(bus, client, command.json);
    }
    try {
        perform(command, client);
    } catch (const CallFailure& failure) {
        return fail(failure.status, failure.message);
    }
    std::fflush(stdout);
    return 0;
}

} // namespace brindell

#include "ControlClient.moc"
