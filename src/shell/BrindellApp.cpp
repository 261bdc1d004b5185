#include "shell/BrindellApp.h"

#include "app/LiveAudio.h"
#include "mixer/PreviewMixerEngine.h"
#include "settings/FileSettingsStorage.h"
#include "settings/SettingsKeys.h"
#include "shell/ApplicationSetup.h"
#include "shell/ControlService.h"
#include "shell/DesktopSettings.h"
#include "shell/PanelController.h"
#include "shell/QtMainQueue.h"
#include "shell/ShellController.h"
#include "shell/ShellWindows.h"
#include "shell/SingleInstance.h"
#include "shell/StatusItemController.h"
#include "shell/TerminationSignals.h"
#include "sources/linux/LinuxWorkspace.h"

#include <QApplication>
#include <QDBusConnection>
#include <QStyle>
#include <chrono>
#include <cstdio>

namespace brindell {

void prepareApplication(QApplication& app) {
    QApplication::setApplicationName(QStringLiteral("brindell"));
    QApplication::setApplicationDisplayName(QStringLiteral("Brindell"));
    QApplication::setDesktopFileName(QStringLiteral("com.quorvel.taskor.brindell"));
    // A tray utility: closing its last window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    // Without a desktop style of its own, Qt's generic one gets Brindell's palette.
    if (app.style()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) == 0 &&
        !PanelTheme::isDark(QApplication::palette())) {
        QApplication::setPalette(PanelTheme::lightPalette());
    }
}

int runBrindell(int argc, char** argv, const LaunchOptions& options) {
    // Qt would abort without a display to talk to; say what is missing instead.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fputs("brindell: no desktop session to show the tray icon in (neither DISPLAY nor "
                   "WAYLAND_DISPLAY is set)\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    prepareApplication(app);

    SingleInstance instance(QDBusConnection::sessionBus());
    const SingleInstance::Role role = instance.claim();
    if (role == SingleInstance::Role::handedOver) {
        return 0;
    }
    if (role == SingleInstance::Role::unanswered) {
        std::fprintf(stderr, "brindell: %s\n", instance.problem().toLocal8Bit().constData());
        return 1;
    }
    if (!instance.problem().isEmpty()) {
        std::fprintf(stderr, "brindell: %s; running on its own\n",
                     instance.problem().toLocal8Bit().constData());
    }

    auto mainQueue = std::make_shared<QtMainQueue>();
    DesktopSettings desktop(QDBusConnection::sessionBus());

    ShellServices services;
    // Built before the shell and kept until after it: the engine's parts and the windows.
    auto workspace = std::make_shared<LinuxWorkspace>();
    services.openSoundSettings = [workspace] { workspace->openSoundSettings(); };
    if (options.previewEngine) {
        services.engine = std::make_shared<PreviewMixerEngine>(
            previewSnapshot(options.preview.state, options.preview.extraRows));
    } else {
        auto xdg = std::shared_ptr<XdgWorkspace>(workspace, &workspace->xdg());
        auto live = makeLiveAudio(workspace, xdg).engine;
        services.engine = live;
        services.startEngine = [live] { live->start(); };
        services.stopEngine = [live] { live->stop(); };
        services.resetAudio = [live] { live->resetAudio(); };
    }
    services.statusItemStorage =
        std::make_shared<FileSettingsStorage>(std::string(settingsKeys::statusItem));
    // BRINDELL_PANEL_LOG names a file that gets the panel's diagnostic trace; each line ends
    // with the monotonic clock's time in milliseconds, so a test can tell how soon it came.
    if (const QString path = qEnvironmentVariable("BRINDELL_PANEL_LOG"); !path.isEmpty()) {
        services.trace = [file = path.toStdString()](const std::string& line) {
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            const double ms = std::chrono::duration<double, std::milli>(now).count();
            if (FILE* out = std::fopen(file.c_str(), "a")) {
                std::fprintf(out, "%s @%.3f\n", line.c_str(), ms);
                std::fclose(out);
            }
        };
    }
    // The settings and onboarding windows, the first-run gate, the shortcut with its recorder,
    // updates and crash reports: after the engine's hooks, since finishing onboarding starts the
    // engine.
    ShellWindows windows(makeDesktopWindowParts(), desktop.appearance());
    windows.install(services);

    ShellController shell(std::move(services), mainQueue, desktop.appearance());
    windows.attach(shell);
    shell.status().setTrayColors({std::nullopt, desktop.darkScheme(), std::nullopt});
    QObject::connect(&desktop, &DesktopSettings::changed, &shell, [&shell, &windows, &desktop] {
        shell.setAppearance(desktop.appearance());
        windows.setAppearance(desktop.appearance());
        shell.status().setTrayColors({std::nullopt, desktop.darkScheme(), std::nullopt});
    });
    // Opening the running program again (a second launch) brings up its settings, or the panel
    // where there is no tray icon to reach them from.
    instance.onActivate = [&shell] { shell.reopen(); };
    // brindell ctl and other scripts: beside the hand-over, on the same name and object.
    std::unique_ptr<ControlService> control;
    if (instance.role() == SingleInstance::Role::primary) {
        ControlActions actions;
        actions.togglePanel = [&shell] { shell.togglePanel(); };
        actions.showPanel = [&shell] { shell.showPanel(); };
        actions.openSettings = [&shell] { shell.openSettings(); };
        control = std::make_unique<ControlService>(instance, QDBusConnection::sessionBus(),
                                                   shell.model(), mainQueue, std::move(actions));
    }

    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &app,
                     [] { QApplication::quit(); });
    // Every way out (the tray menu, a signal, the session ending) passes here once.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &shell, [&shell] { shell.terminate(); });

    shell.start();
    // Started by the bus for a `brindell ctl` call (its service file): that call says what to
    // show. The variables are not handed on to the programs Brindell opens.
    const bool startedByBus = !qEnvironmentVariableIsEmpty("DBUS_STARTER_BUS_TYPE");
    qunsetenv("DBUS_STARTER_BUS_TYPE");
    qunsetenv("DBUS_STARTER_ADDRESS");
    if (!shell.status().trayPresent() && !startedByBus) {
        // No tray to click: show the panel now, on the pointer's screen.
        mainQueue->async([&shell] { shell.showPanel(); });
    }
    const int status = QApplication::exec();
    shell.terminate();
    return status;
}

} // namespace brindell
