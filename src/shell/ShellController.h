#pragma once

#include "mixer/MixerEngine.h"
#include "mixer/MixerViewModel.h"
#include "shell/LayoutKey.h"
#include "shell/MixerView.h"
#include "shell/PanelTheme.h"

#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace brindell {

class PanelController;
class SerialQueue;
class SettingsStorage;
class StatusItemController;

// What the shell is given to run: the engine and its lifecycle, and the services of the layers
// that come beside the panel (shortcut, settings and onboarding windows, updates, crash
// reports). Each has a harmless default, so a shell runs with only an engine.
struct ShellServices {
    std::shared_ptr<MixerEngine> engine;
    std::function<void()> startEngine = [] {};
    // Ends every session and writes pending settings; waits for the engine's queue.
    std::function<void()> stopEngine = [] {};
    std::function<void()> resetAudio = [] {};

    // The global shortcut: registers it with a handler that may run from any event dispatch.
    std::function<void(std::function<void()> handler)> startShortcut = [](auto) {};
    std::function<void()> unregisterShortcut = [] {};

    std::function<void()> openSettings = [] {};
    // The first-run gate: until onboarding is completed the panel stays closed and the
    // onboarding window comes forward instead.
    std::function<bool()> onboardingCompleted = [] { return true; };
    std::function<void()> showOnboarding = [] {};
    std::function<void()> startUpdates = [] {};
    // None: the build does not check for updates, and the tray menu has no entry for it.
    std::function<void()> checkForUpdates;
    std::function<void()> subscribeCrashReports = [] {};

    std::function<void()> openSoundSettings = [] {};
    std::optional<PanelBadge> badge;
    // Where the tray icon's visibility is kept ("BrindellStatusItem"); none: this run only.
    std::shared_ptr<SettingsStorage> statusItemStorage;
    // A diagnostic trace of the panel, one line when it shows and one after each key it uses:
    // the keyboard target and every row's name, pid, volume and mute. None: no trace.
    std::function<void(const std::string& line)> trace;
};

// The composition root of a normal launch: the view model over the engine, the panel with its
// mixer view, the tray icon and the shortcut, wired together; started once and terminated once.
//
// Threading: main thread only. Ownership: owns the model, panel and tray icon, and shares the
// engine; every callback it hands out holds it weakly.
class ShellController : public QObject {
    Q_OBJECT
public:
    ShellController(ShellServices services, std::shared_ptr<SerialQueue> mainQueue,
                    Appearance appearance);
    ~ShellController() override;

    // Connects the tray icon, starts updates, crash reports and the shortcut, then the engine
    // (or, on a first run, shows onboarding instead).
    void start();
    // Unregisters the shortcut, then stops the engine. Runs once; later calls do nothing.
    void terminate();

    void togglePanel();
    // Opens the panel unless it is open.
    void showPanel();
    // The settings window: from the tray menu and the panel's settings button.
    void openSettings();
    // The running program opened again (a second launch): the settings window while the tray
    // icon can be clicked, else the panel, the only other way in.
    void reopen();
    // The master volume by 5 % a step, and its mute: the tray icon's wheel and middle click.
    void stepMasterVolume(int steps);
    void toggleMasterMute();
    void resetAudio();
    void setIconVisible(bool visible);
    void setAppearance(Appearance appearance);

    MixerViewModel& model() { return *model_; }
    PanelController& panel() { return *panel_; }
    StatusItemController& status() { return *status_; }
    MixerView& view() { return *view_; }
    bool isTerminated() const { return terminated_; }

private:
    void watchLayout();
    void traceRows(const std::string& event);

    ShellServices services_;
    std::shared_ptr<SerialQueue> mainQueue_;
    std::shared_ptr<MixerViewModel> model_;
    MixerView* view_ = nullptr;
    std::unique_ptr<PanelController> panel_;
    std::unique_ptr<StatusItemController> status_;
    std::vector<Subscription> layoutWatcher_;
    std::optional<LayoutKey> lastLayout_;
    bool started_ = false;
    bool terminated_ = false;
};

} // namespace brindell
