#include "shell/ControlBus.h"

#include <QDBusMetaType>

namespace brindell::controlbus {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

std::string ss(const QString& text) {
    return text.toStdString();
}

} // namespace

Levels levelsToBus(const MixerLevels& levels) {
    Levels map;
    for (const auto& [pid, level] : levels) {
        map.insert(pid, volumeValue(level));
    }
    return map;
}

MixerLevels levelsFromBus(const Levels& levels) {
    MixerLevels map;
    for (auto it = levels.begin(); it != levels.end(); ++it) {
        map[it.key()] = static_cast<float>(it.value());
    }
    return map;
}

App toBus(const ControlApp& app) {
    return {app.pid,   qs(app.bundleID),  qs(app.name),   app.volume,
            app.muted, qs(app.outputUID), qs(app.status), app.active};
}

ControlApp fromBus(const App& app) {
    return {app.pid,   ss(app.bundleID),  ss(app.name),   app.volume,
            app.muted, ss(app.outputUID), ss(app.status), app.active};
}

Output toBus(const ControlOutput& output) {
    return {qs(output.uid), qs(output.name), qs(output.transport), output.isDefault};
}

ControlOutput fromBus(const Output& output) {
    return {ss(output.uid), ss(output.name), ss(output.transport), output.isDefault};
}

QVariantMap masterToBus(const std::optional<ControlMaster>& master) {
    QVariantMap map;
    if (!master) {
        return map;
    }
    map.insert(QStringLiteral("uid"), qs(master->uid));
    map.insert(QStringLiteral("name"), qs(master->name));
    if (master->volume) {
        map.insert(QStringLiteral("volume"), *master->volume);
    }
    if (master->muted) {
        map.insert(QStringLiteral("muted"), *master->muted);
    }
    return map;
}

std::optional<ControlMaster> masterFromBus(const QVariantMap& map) {
    if (!map.contains(QStringLiteral("uid"))) {
        return std::nullopt;
    }
    ControlMaster master;
    master.uid = ss(map.value(QStringLiteral("uid")).toString());
    master.name = ss(map.value(QStringLiteral("name")).toString());
    if (map.contains(QStringLiteral("volume"))) {
        master.volume = map.value(QStringLiteral("volume")).toDouble();
    }
    if (map.contains(QStringLiteral("muted"))) {
        master.muted = map.value(QStringLiteral("muted")).toBool();
    }
    return master;
}

QString errorName(ControlRequestError::Kind kind) {
    switch (kind) {
    case ControlRequestError::Kind::invalidArgument:
        return QString::fromLatin1(invalidArgs);
    case ControlRequestError::Kind::noSuchApp:
        return QString::fromLatin1(noSuchApp);
    case ControlRequestError::Kind::noSuchOutput:
        return QString::fromLatin1(noSuchOutput);
    case ControlRequestError::Kind::ambiguous:
        return QString::fromLatin1(ambiguous);
    case ControlRequestError::Kind::notSupported:
        return QString::fromLatin1(notSupported);
    }
    return QString::fromLatin1(invalidArgs);
}

void registerTypes() {
    qDBusRegisterMetaType<App>();
    qDBusRegisterMetaType<QList<App>>();
    qDBusRegisterMetaType<Output>();
    qDBusRegisterMetaType<QList<Output>>();
    qDBusRegisterMetaType<Levels>();
}

} // namespace brindell::controlbus

QDBusArgument& operator<<(QDBusArgument& argument, const brindell::controlbus::App& app) {
    argument.beginStructure();
    argument << app.pid << app.bundleID << app.name << app.volume << app.muted << app.outputUID
             << app.status << app.active;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, brindell::controlbus::App& app) {
    argument.beginStructure();
    argument >> app.pid >> app.bundleID >> app.name >> app.volume >> app.muted >> app.outputUID >>
        app.status >> app.active;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const brindell::controlbus::Output& output) {
    argument.beginStructure();
    argument << output.uid << output.name << output.transport << output.isDefault;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument,
                                brindell::controlbus::Output& output) {
    argument.beginStructure();
    argument >> output.uid >> output.name >> output.transport >> output.isDefault;
    argument.endStructure();
    return argument;
}
