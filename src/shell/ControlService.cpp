#include "shell/ControlService.h"

#include "control/ControlValues.h"
#include "shell/ControlBus.h"

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QPointer>
#include <algorithm>
#include <cmath>

namespace brindell {

namespace {

using Kind = ControlRequestError::Kind;

std::string number(double value) {
    std::string text = std::to_string(value);
    while (text.size() > 1 && text.back() == '0') {
        text.pop_back();
    }
    if (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    return text;
}

void checkVolume(double volume) {
    if (!std::isfinite(volume) || volume < 0.0 || volume > 1.0) {
        throw ControlRequestError(Kind::invalidArgument, "A volume of " + number(volume) +
                                                             " is out of range; give 0 to 1.");
    }
}

void checkDelta(double delta) {
    if (!std::isfinite(delta) || delta < -1.0 || delta > 1.0) {
        throw ControlRequestError(Kind::invalidArgument, "A change of " + number(delta) +
                                                             " is out of range; give -1 to 1.");
    }
}

// The bus face of the service: com.quorvel.taskor.brindell.Mixer. Each method runs the
// service's operation and turns a refusal into an error reply.
class MixerAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quorvel.taskor.brindell.Mixer")
public:
    MixerAdaptor(QObject* exported, QDBusConnection bus, ControlService* service)
        : QDBusAbstractAdaptor(exported), bus_(std::move(bus)), service_(service) {
        setAutoRelaySignals(false);
        connect(service, &ControlService::changed, this, &MixerAdaptor::Changed);
    }

public slots:
    void TogglePanel(const QDBusMessage& message) {
        run(message, [](ControlService& s) { s.togglePanel(); });
    }
    void ShowPanel(const QDBusMessage& message) {
        run(message, [](ControlService& s) { s.showPanel(); });
    }
    void OpenSettings(const QDBusMessage& message) {
        run(message, [](ControlService& s) { s.openSettings(); });
    }

    QList<controlbus::App> ListApps(const QDBusMessage& message) {
        QList<controlbus::App> list;
        run(message, [&list](ControlService& s) {
            for (const auto& app : s.listApps()) {
                list.append(controlbus::toBus(app));
            }
        });
        return list;
    }
    controlbus::Levels GetLevels(const QDBusMessage& message) {
        // Answered once the engine has read them; the main thread goes on meanwhile.
        run(message, [&](ControlService& s) {
            message.setDelayedReply(true);
            s.levels([bus = bus_, message](const MixerLevels& levels) {
                bus.send(message.createReply(QVariant::fromValue(controlbus::levelsToBus(levels))));
            });
        });
        return {};
    }
    void SetVolume(const QString& app, double volume, const QDBusMessage& message) {
        run(message, [&](ControlService& s) { s.setVolume(app.toStdString(), volume); });
    }
    double AdjustVolume(const QString& app, double delta, const QDBusMessage& message) {
        double result = 0.0;
        run(message, [&](ControlService& s) { result = s.adjustVolume(app.toStdString(), delta); });
        return result;
    }
    void SetMuted(const QString& app, bool muted, const QDBusMessage& message) {
        run(message, [&](ControlService& s) { s.setMuted(app.toStdString(), muted); });
    }
    bool ToggleMuted(const QString& app, const QDBusMessage& message) {
        bool result = false;
        run(message, [&](ControlService& s) { result = s.toggleMuted(app.toStdString()); });
        return result;
    }
    void SetOutput(const QString& app, const QString& uid, const QDBusMessage& message) {
        run(message, [&](ControlService& s) { s.setOutput(app.toStdString(), uid.toStdString()); });
    }
    void Forget(const QString& app, const QDBusMessage& message) {
        run(message, [&](ControlService& s) { s.forget(app.toStdString()); });
    }
    void ForgetAll(const QDBusMessage& message) {
        run(message, [](ControlService& s) { s.forgetAll(); });
    }

    QList<controlbus::Output> ListOutputs(const QDBusMessage& message) {
        QList<controlbus::Output> list;
        run(message, [&list](ControlService& s) {
            for (const auto& output : s.listOutputs()) {
                list.append(controlbus::toBus(output));
            }
        });
        return list;
    }
    QVariantMap GetMaster(const QDBusMessage& message) {
        QVariantMap map;
        run(message, [&map](ControlService& s) { map = controlbus::masterToBus(s.master()); });
        return map;
    }
    void SetMasterVolume(double volume, const QDBusMessage& message) {
        run(message, [&](ControlService& s) { s.setMasterVolume(volume); });
    }
    double AdjustMasterVolume(double delta, const QDBusMessage& message) {
        double result = 0.0;
        run(message, [&](ControlService& s) { result = s.adjustMasterVolume(delta); });
        return result;
    }
    void SetMasterMuted(bool muted, const QDBusMessage& message) {
        run(message, [&](ControlService& s) { s.setMasterMuted(muted); });
    }
    bool ToggleMasterMuted(const QDBusMessage& message) {
        bool result = false;
        run(message, [&](ControlService& s) { result = s.toggleMasterMuted(); });
        return result;
    }
    void SetDefaultOutput(const QString& uid, const QDBusMessage& message) {
        run(message, [&](ControlService& s) { s.setDefaultOutput(uid.toStdString()); });
    }

signals:
    void Changed();

private:
    template <class Operation> void run(const QDBusMessage& message, Operation&& operation) {
        ControlService* service = service_.data();
        if (service == nullptr) {
            refuse(message, QString::fromLatin1(controlbus::unavailable),
                   QStringLiteral("Brindell is quitting."));
            return;
        }
        try {
            operation(*service);
        } catch (const ControlRequestError& error) {
            refuse(message, controlbus::errorName(error.kind()), QString::fromUtf8(error.what()));
        }
    }

    void refuse(const QDBusMessage& message, const QString& name, const QString& text) {
        // The return value of the slot is then not sent; this error is the reply.
        message.setDelayedReply(true);
        bus_.send(message.createErrorReply(name, text));
    }

    QDBusConnection bus_;
    QPointer<ControlService> service_;
};

} // namespace

ControlService::ControlService(QObject& exported, QDBusConnection bus, MixerViewModel& model,
                               std::shared_ptr<SerialQueue> mainQueue, ControlActions actions)
    : model_(model), actions_(std::move(actions)), mainQueue_(mainQueue),
      throttle_(std::move(mainQueue), 1.0 / changedPerSecond, [this] { emit changed(); }) {
    controlbus::registerTypes();
    // Every refresh from the engine republishes the master section; the panel's own changes
    // touch the rows. Both end in one coalesced Changed.
    watches_.push_back(model_.master.subscribe([this](const auto&) { throttle_.changed(); }));
    watches_.push_back(model_.rows.subscribe([this](const auto&) { throttle_.changed(); }));
    watches_.push_back(model_.outputs.subscribe([this](const auto&) { throttle_.changed(); }));
    watches_.push_back(model_.permission.subscribe([this](const auto&) { throttle_.changed(); }));
    // Added to an object that may already be on the bus: Qt looks its adaptors up per call.
    new MixerAdaptor(&exported, std::move(bus), this);
}

ControlService::~ControlService() {
    watches_.clear();
    // The interface stays with the exported object (Qt keeps its adaptors for the object's
    // life); without its service it answers every call with Unavailable.
}

std::vector<ControlApp> ControlService::listApps() const {
    return controlApps(model_.rows.get());
}

void ControlService::levels(std::function<void(const MixerLevels&)> reply) const {
    model_.engine().readLevels(
        [queue = mainQueue_, reply = std::move(reply)](const MixerLevels& levels) {
            if (const auto main = queue.lock()) {
                main->async([reply, levels] { reply(levels); });
            }
        });
}

void ControlService::setVolume(const std::string& app, double volume) {
    checkVolume(volume);
    for (const pid_type pid : resolveApp(model_.rows.get(), app)) {
        model_.setVolume(pid, static_cast<float>(volume));
    }
}

double ControlService::adjustVolume(const std::string& app, double delta) {
    checkDelta(delta);
    const auto pids = resolveApp(model_.rows.get(), app);
    std::optional<double> first;
    for (const pid_type pid : pids) {
        // The box holds what the slider shows, also while a drag holds the rows still.
        const double next = VolumeChange{true, delta}.appliedTo(model_.volumeBox(pid)->value());
        model_.setVolume(pid, static_cast<float>(next));
        first = first.value_or(next);
    }
    return volumeValue(static_cast<float>(first.value_or(0.0)));
}

void ControlService::setMuted(const std::string& app, bool muted) {
    for (const pid_type pid : resolveApp(model_.rows.get(), app)) {
        model_.setMuted(pid, muted);
    }
}

bool ControlService::toggleMuted(const std::string& app) {
    const auto pids = resolveApp(model_.rows.get(), app);
    const auto& rows = model_.rows.get();
    const auto first = std::find_if(rows.begin(), rows.end(),
                                    [&pids](const MixerRow& row) { return row.pid == pids[0]; });
    const bool muted = first == rows.end() || !first->isMuted;
    for (const pid_type pid : pids) {
        model_.setMuted(pid, muted);
    }
    return muted;
}

void ControlService::setOutput(const std::string& app, const std::string& device) {
    const auto pids = resolveApp(model_.rows.get(), app);
    std::optional<std::string> uid;
    if (!device.empty()) {
        uid = resolveOutput(model_.outputs.get(), device);
    }
    for (const pid_type pid : pids) {
        model_.setOutput(pid, uid);
    }
}

void ControlService::forget(const std::string& app) {
    model_.engine().forgetSettings(resolveForgetID(model_.rows.get(), app));
}

void ControlService::forgetAll() {
    model_.engine().forgetAllSettings();
}

std::vector<ControlOutput> ControlService::listOutputs() const {
    return controlOutputs(model_.outputs.get(), model_.master.get());
}

std::optional<ControlMaster> ControlService::master() const {
    return controlMaster(model_.master.get());
}

const OutputState& ControlService::settableMaster(bool needVolume) const {
    const auto& master = model_.master.get();
    if (!master) {
        throw ControlRequestError(Kind::notSupported, "No default output is known.");
    }
    if (needVolume && !master->volume) {
        throw ControlRequestError(Kind::notSupported,
                                  master->deviceName + " has no volume control.");
    }
    if (!needVolume && !master->isMuted) {
        throw ControlRequestError(Kind::notSupported, master->deviceName + " cannot be muted.");
    }
    return *master;
}

void ControlService::setMasterVolume(double volume) {
    checkVolume(volume);
    settableMaster(true);
    model_.setMasterVolume(static_cast<float>(volume));
}

double ControlService::adjustMasterVolume(double delta) {
    checkDelta(delta);
    const double next = VolumeChange{true, delta}.appliedTo(*settableMaster(true).volume);
    model_.setMasterVolume(static_cast<float>(next));
    return volumeValue(static_cast<float>(next));
}

void ControlService::setMasterMuted(bool muted) {
    settableMaster(false);
    model_.setMasterMuted(muted);
}

bool ControlService::toggleMasterMuted() {
    const bool muted = !*settableMaster(false).isMuted;
    model_.setMasterMuted(muted);
    return muted;
}

void ControlService::setDefaultOutput(const std::string& device) {
    model_.engine().setDefaultOutput(resolveOutput(model_.outputs.get(), device));
}

} // namespace brindell

#include "ControlService.moc"
