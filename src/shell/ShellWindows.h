#pragma once

#include "shell/OnboardingView.h"
#include "shell/PanelTheme.h"
#include "shell/SettingsView.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

namespace brindell {

class CrashController;
class HotkeyController;
class HotkeyRecorderModel;
class LaunchAtLoginModel;
class OnboardingState;
class PortalShortcut;
class SettingsStorage;
class ShellController;
class UpdateController;
struct ShellServices;

// What the settings and onboarding windows are built over. Production builds them over the X11
// shortcut, the autostart entry, the build's crash controller and the settings files
// (makeDesktopWindowParts); tests over fakes.
struct WindowParts {
    std::shared_ptr<UpdateController> updates;
    std::shared_ptr<CrashController> crash;
    std::shared_ptr<LaunchAtLoginModel> launchAtLogin;
    // "onboarding".
    std::shared_ptr<SettingsStorage> onboardingStorage;
    std::shared_ptr<HotkeyController> hotkey;
    std::shared_ptr<HotkeyRecorderModel> recorder;
    // The desktop portal behind the shortcut in a Wayland session; none elsewhere.
    std::shared_ptr<PortalShortcut> portalShortcut;
    // "BrindellStatusItem", for the shell's tray icon; none leaves the shell's own choice.
    std::shared_ptr<SettingsStorage> statusItemStorage;
    // The version, build marker, privacy address, login-items action and the desktop-shortcut
    // question. showIcon and setIconVisible are filled from the shell.
    SettingsViewOptions settings;
};

// The shell's windows and its first run: the settings window ("Brindell Settings", built on
// first use, then kept and shown centred again each time), the onboarding window ("Welcome to
// Brindell", until onboarding finishes), and the services behind the shell's seams for them, for
// the shortcut, updates and crash reports.
//
// Threading: main thread only. Ownership: owns both windows and the parts; the shell reaches it
// through the closures install() leaves in ShellServices, which hold it weakly.
class ShellWindows : public QObject {
    Q_OBJECT
public:
    ShellWindows(WindowParts parts, Appearance appearance);
    ~ShellWindows() override;

    // Fills the shell's seams: openSettings, onboardingCompleted, showOnboarding, startUpdates,
    // checkForUpdates (left empty without an updater), subscribeCrashReports, startShortcut and
    // unregisterShortcut, and the tray icon's storage when the shell has none. Call once, after
    // startEngine is set: finishing onboarding starts the engine through it.
    void install(ShellServices& services);
    // The shell whose tray icon the settings window shows and hides.
    void attach(ShellController& shell);

    // Builds the settings window on first use; shows it centred, in front, focused.
    void openSettings();
    // Builds the onboarding window unless it exists; shows it centred, in front, focused.
    void showOnboarding();
    // Saves the completed record, applies the crash-report choice, closes the onboarding window
    // and starts the engine (once per process).
    void finishOnboarding(bool sendCrashReports);
    // Asks the updater to check now; nothing without one.
    void checkForUpdates();
    bool onboardingCompleted() const;

    void setAppearance(Appearance appearance);

    // None until first opened.
    SettingsView* settingsWindow() const { return settingsWindow_; }
    // None before it is first shown and after onboarding finished.
    OnboardingView* onboardingWindow() const { return onboardingWindow_; }
    const WindowParts& parts() const { return parts_; }

    static constexpr const char* settingsTitle = "Brindell Settings";
    static constexpr const char* onboardingTitle = "Welcome to Brindell";

private:
    WindowParts parts_;
    std::unique_ptr<OnboardingState> onboarding_;
    Appearance appearance_;
    QPointer<ShellController> shell_;
    std::function<void()> startEngine_ = [] {};
    bool engineStarted_ = false;
    QPointer<SettingsView> settingsWindow_;
    QPointer<OnboardingView> onboardingWindow_;
};

// The production parts: the X11 shortcut with the recorder's Qt key monitor, the XDG autostart
// entry, the build's crash controller and update configuration, and settings files. Call with
// the QApplication in place.
WindowParts makeDesktopWindowParts();

// A Wayland session, also with Brindell itself on XWayland: global key grabs are not Brindell's
// to make there (an X11 grab would fire only while an X11 window has the focus).
bool isWaylandSession();

} // namespace brindell
