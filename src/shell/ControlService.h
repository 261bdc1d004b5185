#pragma once

#include "control/ChangeThrottle.h"
#include "control/ControlReport.h"
#include "mixer/MixerViewModel.h"

#include <QDBusConnection>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindell {

// The shell's actions the service offers beside the mixer.
struct ControlActions {
    std::function<void()> togglePanel = [] {};
    std::function<void()> showPanel = [] {};
    std::function<void()> openSettings = [] {};
};

// The scriptable control of a running Brindell: the interface com.quorvel.taskor.brindell.Mixer
// on the object that already answers org.freedesktop.Application (SingleInstance), so one bus
// name and one object carry the second-launch hand-over and the control. Every mutating call
// goes through the same view-model or engine operation as the panel, so remembered settings
// behave the same. A request that cannot be carried out throws ControlRequestError (the bus
// call gets an error reply with its message) and changes nothing.
//
// Threading: main thread only; bus calls arrive from its event loop. Ownership: the bus
// interface is a child of the exported object and holds this service weakly; once the service
// is gone, calls get an error and Changed stops. The model must outlive the service.
class ControlService : public QObject {
    Q_OBJECT
public:
    // At most this many Changed signals per second.
    static constexpr double changedPerSecond = 20.0;

    // exported: the object registered at the control's path on bus. The service follows the
    // model's published values to signal Changed.
    ControlService(QObject& exported, QDBusConnection bus, MixerViewModel& model,
                   std::shared_ptr<SerialQueue> mainQueue, ControlActions actions);
    ~ControlService() override;

    std::vector<ControlApp> listApps() const;
    // The apps' live levels, read now (they are not kept while the panel is hidden): reply is
    // called on the main queue once the engine has read them; nothing waits meanwhile.
    void levels(std::function<void(const MixerLevels&)> reply) const;
    void setVolume(const std::string& app, double volume);
    // Moves each of the app's rows by delta, clamped to 0 to 1; returns the first row's volume.
    double adjustVolume(const std::string& app, double delta);
    void setMuted(const std::string& app, bool muted);
    // All of the app's rows take the opposite of the first row's mute; returns it.
    bool toggleMuted(const std::string& app);
    // device: a UID (or name) of a listed output; empty follows the system default output.
    void setOutput(const std::string& app, const std::string& device);
    void forget(const std::string& app);
    void forgetAll();

    std::vector<ControlOutput> listOutputs() const;
    std::optional<ControlMaster> master() const;
    void setMasterVolume(double volume);
    double adjustMasterVolume(double delta);
    void setMasterMuted(bool muted);
    bool toggleMasterMuted();
    void setDefaultOutput(const std::string& device);

    void togglePanel() { actions_.togglePanel(); }
    void showPanel() { actions_.showPanel(); }
    void openSettings() { actions_.openSettings(); }

signals:
    // After engine changes and panel actions, at most changedPerSecond times a second.
    void changed();

private:
    const OutputState& settableMaster(bool needVolume) const;

    MixerViewModel& model_;
    ControlActions actions_;
    std::weak_ptr<SerialQueue> mainQueue_;
    ChangeThrottle throttle_;
    std::vector<Subscription> watches_;
};

} // namespace brindell
