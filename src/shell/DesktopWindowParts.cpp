// The production parts of the settings and onboarding windows.
#include "app/CrashReporting.h"
#include "hotkey/HotkeyController.h"
#include "hotkey/HotkeyRecorderModel.h"
#include "hotkey/qt/QtKeyDownMonitor.h"
#include "hotkey/x11/X11HotkeyRegistrar.h"
#include "login/AutostartLoginItem.h"
#include "login/LaunchAtLoginModel.h"
#include "settings/FileSettingsStorage.h"
#include "settings/SettingsKeys.h"
#include "shell/PortalShortcut.h"
#include "shell/ShellWindows.h"
#include "updates/BuildMarker.h"
#include "updates/InfoDictionary.h"
#include "updates/UpdateController.h"

#include <QDBusConnection>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QUrl>

namespace brindell {

namespace {

std::shared_ptr<SettingsStorage> settingsFile(std::string_view key) {
    return std::make_shared<FileSettingsStorage>(std::string(key));
}

} // namespace

bool isWaylandSession() {
    return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           QGuiApplication::platformName() == QLatin1String("wayland");
}

WindowParts makeDesktopWindowParts() {
    WindowParts parts;
    // In the shell's order: updates, crash reports, open at login, onboarding; the shortcut and
    // its recorder come last.
    parts.updates = std::make_shared<UpdateController>(UpdateConfig::fromInfo(infoDictionary()));
    parts.crash = makeCrashController(settingsFile(settingsKeys::crashConsent));
    parts.launchAtLogin =
        std::make_shared<LaunchAtLoginModel>(AutostartLoginItem::forCurrentUser());
    parts.onboardingStorage = settingsFile(settingsKeys::onboarding);
    std::shared_ptr<HotkeyRegistrar> registrar;
    if (isWaylandSession()) {
        parts.portalShortcut = std::make_shared<PortalShortcut>(QDBusConnection::sessionBus());
        registrar = parts.portalShortcut;
    } else {
        registrar = std::make_shared<X11HotkeyRegistrar>(qtMainThreadFdWatch());
    }
    parts.hotkey =
        std::make_shared<HotkeyController>(registrar, settingsFile(settingsKeys::hotkey));
    parts.recorder = HotkeyRecorderModel::create(parts.hotkey, qtKeyDownMonitorInstaller());
    parts.statusItemStorage = settingsFile(settingsKeys::statusItem);

    parts.settings.version = infoVersion();
    parts.settings.marker = BuildMarker::current();
    // Never asked for here (autostart entries need no approval); the folder is the nearest thing.
    parts.settings.openLoginItems = [] {
        QDesktopServices::openUrl(QUrl::fromLocalFile(
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            QStringLiteral("/autostart")));
    };
    parts.settings.desktopBindsShortcut = [hotkey = parts.hotkey] {
        return !hotkey->isRegistered() && isWaylandSession();
    };
    return parts;
}

} // namespace brindell
