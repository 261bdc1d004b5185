#include "LogindWakeListener.h"

namespace brindell {
namespace {

const QString service = QStringLiteral("org.freedesktop.login1");
const QString path = QStringLiteral("/org/freedesktop/login1");
const QString interface = QStringLiteral("org.freedesktop.login1.Manager");
const QString signal = QStringLiteral("PrepareForSleep");

} // namespace

LogindWakeListener::LogindWakeListener(QDBusConnection bus, std::function<void()> onWake)
    : bus_(std::move(bus)), onWake_(std::move(onWake)) {
    if (bus_.isConnected()) {
        listening_ =
            bus_.connect(service, path, interface, signal, this, SLOT(prepareForSleep(bool)));
    }
}

LogindWakeListener::~LogindWakeListener() {
    if (listening_) {
        bus_.disconnect(service, path, interface, signal, this, SLOT(prepareForSleep(bool)));
    }
}

void LogindWakeListener::prepareForSleep(bool starting) {
    if (!starting && onWake_) {
        onWake_();
    }
}

} // namespace brindell
