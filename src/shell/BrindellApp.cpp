#include "shell/BrindellApp.h"

#include "mixer/PreviewMixerEngine.h"
#include "shell/ApplicationSetup.h"
#include "shell/ControlService.h"
#include "shell/DesktopSettings.h"
#include "shell/PanelController.h"
#include "shell/QtMainQueue.h"
#include "shell/ShellController.h"
#include "shell/SingleInstance.h"
#include "shell/StatusItemController.h"
#include "shell/TerminationSignals.h"

#include <QApplication>
#include <QDBusConnection>
#include <QProcess>
#include <QStandardPaths>
#include <QStyle>
#include <QSystemTrayIcon>
#include <cstdio>

namespace brindell {

namespace {

// The desktop's sound settings: the first installed of GNOME's, KDE's and pavucontrol.
void openSoundSettings() {
    const QList<QStringList> candidates = {
        {QStringLiteral("gnome-control-center"), QStringLiteral("sound")},
        {QStringLiteral("systemsettings"), QStringLiteral("kcm_pulseaudio")},
        {QStringLiteral("pavucontrol")},
    };
    for (const auto& command : candidates) {
        const QString program = QStandardPaths::findExecutable(command.front());
        if (!program.isEmpty()) {
            QProcess::startDetached(program, command.mid(1));
            return;
        }
    }
}

} // namespace

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
    if (!options.previewEngine) {
        std::fputs("brindell: this build has no live audio engine yet; start it with "
                   "--preview-engine to try the panel with sample apps\n",
                   stderr);
        return 1;
    }
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
    if (instance.claim() == SingleInstance::Role::handedOver) {
        return 0;
    }
    if (!instance.problem().isEmpty()) {
        std::fprintf(stderr, "brindell: %s; running on its own\n",
                     instance.problem().toLocal8Bit().constData());
    }

    auto mainQueue = std::make_shared<QtMainQueue>();
    DesktopSettings desktop(QDBusConnection::sessionBus());

    ShellServices services;
    services.engine = std::make_shared<PreviewMixerEngine>(
        previewSnapshot(options.preview.state, options.preview.extraRows));
    services.openSoundSettings = openSoundSettings;

    ShellController shell(std::move(services), mainQueue, desktop.appearance());
    QObject::connect(&desktop, &DesktopSettings::changed, &shell,
                     [&shell, &desktop] { shell.setAppearance(desktop.appearance()); });
    instance.onActivate = [&shell] { shell.showPanel(); };
    // brindell ctl and other scripts: beside the hand-over, on the same name and object.
    std::unique_ptr<ControlService> control;
    if (instance.role() == SingleInstance::Role::primary) {
        ControlActions actions;
        actions.togglePanel = [&shell] { shell.togglePanel(); };
        actions.showPanel = [&shell] { shell.showPanel(); };
        // The tray menu's Settings entry, once start() has connected it.
        actions.openSettings = [&shell] { shell.status().onSettings(); };
        control = std::make_unique<ControlService>(instance, QDBusConnection::sessionBus(),
                                                   shell.model(), mainQueue, std::move(actions));
    }

    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &app,
                     [] { QApplication::quit(); });
    // Every way out (the tray menu, a signal, the session ending) passes here once.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &shell, [&shell] { shell.terminate(); });

    shell.start();
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // No tray to click: show the panel now, on the pointer's screen.
        mainQueue->async([&shell] { shell.showPanel(); });
    }
    const int status = QApplication::exec();
    shell.terminate();
    return status;
}

} // namespace brindell
