#include "sources/linux/LinuxWorkspace.h"

#include "LogindWakeListener.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>
#include <atomic>

namespace brindell {
namespace {

bool startDetached(const std::vector<std::string>& command) {
    if (command.empty()) {
        return false;
    }
    QStringList arguments;
    for (std::size_t i = 1; i < command.size(); ++i) {
        arguments.push_back(QString::fromStdString(command[i]));
    }
    return QProcess::startDetached(QString::fromStdString(command.front()), arguments);
}

} // namespace

// Owns the bus connection it opened itself (a private bus); the system bus is shared.
class LinuxWorkspace::WakeListener {
public:
    WakeListener(const std::optional<std::string>& address, std::function<void()> onWake)
        : connectionName_(address ? uniqueConnectionName() : QString()),
          bus_(address ? QDBusConnection::connectToBus(QString::fromStdString(*address),
                                                       connectionName_)
                       : QDBusConnection::systemBus()),
          listener_(bus_, std::move(onWake)) {}
    ~WakeListener() {
        if (!connectionName_.isEmpty()) {
            QDBusConnection::disconnectFromBus(connectionName_);
        }
    }
    WakeListener(const WakeListener&) = delete;
    WakeListener& operator=(const WakeListener&) = delete;

    bool isListening() const { return listener_.isListening(); }

private:
    static QString uniqueConnectionName() {
        static std::atomic<int> next{1};
        return QStringLiteral("brindell-wake-%1").arg(next++);
    }

    QString connectionName_;
    QDBusConnection bus_;
    LogindWakeListener listener_;
};

LinuxWorkspace::LinuxWorkspace() : LinuxWorkspace(Options{}) {}

LinuxWorkspace::LinuxWorkspace(Options options)
    : xdg_(std::make_shared<XdgWorkspace>(std::move(options.workspace), startDetached)) {
    // Signals reach a QObject only through an event loop; without an application object there
    // is none to run, and so no wake notification.
    if (QCoreApplication::instance() != nullptr) {
        const std::weak_ptr<XdgWorkspace> weak = xdg_;
        wake_ = std::make_unique<WakeListener>(options.wakeBusAddress, [weak] {
            if (const auto xdg = weak.lock()) {
                xdg->notifyWake();
            }
        });
    }
}

LinuxWorkspace::~LinuxWorkspace() = default;

bool LinuxWorkspace::listensForWake() const {
    return wake_ && wake_->isListening();
}

} // namespace brindell
