#pragma once

#include "mixer/MixerViewModel.h"
#include "mixer/PreviewMixerEngine.h"
#include "shell/MixerView.h"
#include "shell/QtMainQueue.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QString>
#include <functional>
#include <memory>
#include <stdexcept>

namespace brindell::testing {

// Runs the event loop until the condition holds or the watchdog (milliseconds) runs out.
bool waitFor(const std::function<bool()>& condition, int watchdogMs = 5000);

// Runs what is queued on the event loop now (the model's hops, relayouts).
void settle();

// The view model over the preview engine on the Qt main queue, and a mixer view of it.
struct PreviewMixer {
    explicit PreviewMixer(MixerSnapshot snapshot = PreviewMixerEngine::cannedSnapshot(),
                          MixerViewOptions options = {}, Appearance appearance = {});
    ~PreviewMixer();

    // The engine changes one row as the audio side would; the change reaches the view
    // through the main queue.
    void engineChangesRow(pid_type pid, const std::function<void(MixerRow&)>& change);

    std::shared_ptr<QtMainQueue> mainQueue = std::make_shared<QtMainQueue>();
    std::shared_ptr<PreviewMixerEngine> engine;
    std::shared_ptr<MixerViewModel> model;
    std::unique_ptr<MixerView> view;
};

// A named connection to a bus, closed when it goes.
class BusConnection : public QDBusConnection {
public:
    BusConnection(const QString& address, const QString& name)
        : QDBusConnection(connectToBus(address, name)) {}
    ~BusConnection() { disconnectFromBus(name()); }
    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;
};

// The shared private session bus, its address as Qt takes it. A bus that did not start fails the
// test at once.
class SessionBus : public PrivateBus {
public:
    SessionBus() {
        if (PrivateBus::address().empty()) {
            throw std::runtime_error("dbus-daemon did not start");
        }
    }
    QString address() const { return QString::fromStdString(PrivateBus::address()); }
};

} // namespace brindell::testing
