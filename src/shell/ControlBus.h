#pragma once

#include "control/ControlReport.h"
#include "control/ControlValues.h"

#include <QDBusArgument>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

// The scriptable control on the session bus: names and the records that travel, shared by the
// service in the running Brindell and the `brindell ctl` client.
namespace brindell::controlbus {

// Beside org.freedesktop.Application on the same name and object (SingleInstance).
inline constexpr const char* serviceName = "com.quorvel.taskor.brindell";
inline constexpr const char* objectPath = "/com/quorvel/taskor/brindell";
inline constexpr const char* interfaceName = "com.quorvel.taskor.brindell.Mixer";

// Error names of refused calls. Bad values use the standard InvalidArgs.
inline constexpr const char* invalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
inline constexpr const char* noSuchApp = "com.quorvel.taskor.brindell.Error.NoSuchApp";
inline constexpr const char* noSuchOutput = "com.quorvel.taskor.brindell.Error.NoSuchOutput";
inline constexpr const char* ambiguous = "com.quorvel.taskor.brindell.Error.Ambiguous";
inline constexpr const char* notSupported = "org.freedesktop.DBus.Error.NotSupported";
// The service is there but its Brindell is shutting down.
inline constexpr const char* unavailable = "com.quorvel.taskor.brindell.Error.Unavailable";

// (issdbssb): pid, bundle id, name, volume, muted, output UID, status sentence, playing.
struct App {
    qint32 pid = 0;
    QString bundleID;
    QString name;
    double volume = 1.0;
    bool muted = false;
    QString outputUID;
    QString status;
    bool active = true;
};

// (sssb): uid, name, transport, is the default.
struct Output {
    QString uid;
    QString name;
    QString transport;
    bool isDefault = false;
};

// GetLevels' a{id}: pid to live level (0 to 1) for every app that has one.
using Levels = QMap<qint32, double>;
Levels levelsToBus(const MixerLevels& levels);
MixerLevels levelsFromBus(const Levels& levels);

App toBus(const ControlApp& app);
ControlApp fromBus(const App& app);
Output toBus(const ControlOutput& output);
ControlOutput fromBus(const Output& output);

// GetMaster's a{sv}: "uid", "name", and "volume" (d) and "muted" (b) when the device has them;
// empty when no default output is known.
QVariantMap masterToBus(const std::optional<ControlMaster>& master);
std::optional<ControlMaster> masterFromBus(const QVariantMap& map);

QString errorName(ControlRequestError::Kind kind);

// Registers the records with Qt's D-Bus type system; call before the first call or export.
void registerTypes();

} // namespace brindell::controlbus

QDBusArgument& operator<<(QDBusArgument& argument, const brindell::controlbus::App& app);
const QDBusArgument& operator>>(const QDBusArgument& argument, brindell::controlbus::App& app);
QDBusArgument& operator<<(QDBusArgument& argument, const brindell::controlbus::Output& output);
const QDBusArgument& operator>>(const QDBusArgument& argument,
                                brindell::controlbus::Output& output);

Q_DECLARE_METATYPE(brindell::controlbus::App)
Q_DECLARE_METATYPE(brindell::controlbus::Output)
