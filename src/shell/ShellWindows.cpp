#include "shell/ShellWindows.h"

#include "crash/CrashController.h"
#include "hotkey/HotkeyController.h"
#include "hotkey/HotkeyRecorderModel.h"
#include "login/LaunchAtLoginModel.h"
#include "shell/OnboardingState.h"
#include "shell/OnboardingView.h"
#include "shell/PortalShortcut.h"
#include "shell/ShellController.h"
#include "shell/StatusItemController.h"
#include "updates/UpdateController.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

namespace brindell {

namespace {

// Title bar and close button only: neither resizable nor minimisable. Closing only hides it.
void makeWindow(QWidget* window, const char* title) {
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint);
    window->setWindowTitle(QString::fromUtf8(title));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
}

// Centred on the screen under the pointer (the one the user is looking at), in front, focused.
void present(QWidget* window) {
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen != nullptr) {
        const QRect area = screen->availableGeometry();
        window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
    }
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

ShellWindows::ShellWindows(WindowParts parts, Appearance appearance)
    : parts_(std::move(parts)),
      onboarding_(std::make_unique<OnboardingState>(parts_.onboardingStorage)),
      appearance_(appearance) {
    if (parts_.portalShortcut) {
        // The desktop tells its binding when it likes: the open window shows it at once.
        QPointer<ShellWindows> self(this);
        parts_.portalShortcut->onTriggerChanged = [self] {
            if (auto* windows = self.data(); windows != nullptr && windows->settingsWindow_) {
                windows->settingsWindow_->refresh();
            }
        };
    }
}

ShellWindows::~ShellWindows() {
    if (parts_.portalShortcut) {
        parts_.portalShortcut->onTriggerChanged = [] {};
    }
    delete onboardingWindow_.data();
    delete settingsWindow_.data();
}

void ShellWindows::install(ShellServices& services) {
    QPointer<ShellWindows> self(this);
    startEngine_ = services.startEngine;
    services.openSettings = [self] {
        if (auto* windows = self.data()) {
            windows->openSettings();
        }
    };
    services.onboardingCompleted = [self] {
        // Without the windows there is no onboarding to wait for.
        auto* windows = self.data();
        return windows == nullptr || windows->onboardingCompleted();
    };
    services.showOnboarding = [self] {
        if (auto* windows = self.data()) {
            windows->showOnboarding();
        }
    };
    services.startUpdates = [updates = parts_.updates] { updates->start(); };
    services.checkForUpdates = nullptr;
    if (parts_.updates->hasController()) {
        services.checkForUpdates = [self] {
            if (auto* windows = self.data()) {
                windows->checkForUpdates();
            }
        };
    }
    // The controller itself subscribes only when reporting is available and consent is on.
    services.subscribeCrashReports = [crash = parts_.crash] { crash->start(); };
    services.startShortcut = [hotkey = parts_.hotkey,
                              recorder = parts_.recorder](std::function<void()> handler) {
        hotkey->start(std::move(handler));
        // A refused saved shortcut was replaced by the default: the settings window says so.
        recorder->takeUpFallbackNotice();
    };
    services.unregisterShortcut = [hotkey = parts_.hotkey] { hotkey->unregister(); };
    if (!services.statusItemStorage) {
        services.statusItemStorage = parts_.statusItemStorage;
    }
}

void ShellWindows::attach(ShellController& shell) {
    shell_ = &shell;
}

bool ShellWindows::onboardingCompleted() const {
    return onboarding_->completed();
}

void ShellWindows::openSettings() {
    if (settingsWindow_.isNull()) {
        SettingsViewOptions options = parts_.settings;
        // The switch starts from the tray icon as it is now; afterwards only the switch moves it.
        options.showIcon = shell_.isNull() || shell_->status().isVisible();
        QPointer<ShellController> shell = shell_;
        options.setIconVisible = [shell](bool visible) {
            if (auto* target = shell.data()) {
                target->setIconVisible(visible);
            }
        };
        options.desktopTrigger = [portal = parts_.portalShortcut]() -> std::optional<std::string> {
            if (portal && portal->trigger()) {
                return portal->trigger()->toStdString();
            }
            return std::nullopt;
        };
        options.showMixer = [shell] {
            if (auto* target = shell.data()) {
                target->showPanel();
            }
        };
        auto* view =
            new SettingsView({parts_.recorder, parts_.launchAtLogin, parts_.updates, parts_.crash},
                             std::move(options), appearance_);
        makeWindow(view, settingsTitle);
        settingsWindow_ = view;
    }
    present(settingsWindow_);
}

void ShellWindows::showOnboarding() {
    if (onboardingWindow_.isNull()) {
        QPointer<ShellWindows> self(this);
        auto* view = new OnboardingView(
            parts_.crash->isAvailable(),
            [self](bool sendCrashReports) {
                if (auto* windows = self.data()) {
                    windows->finishOnboarding(sendCrashReports);
                }
            },
            appearance_);
        makeWindow(view, onboardingTitle);
        onboardingWindow_ = view;
    }
    present(onboardingWindow_);
}

void ShellWindows::finishOnboarding(bool sendCrashReports) {
    // A failed save leaves onboarding to come again at the next launch; this run goes on.
    onboarding_->markCompleted();
    parts_.crash->setIsOn(sendCrashReports);
    if (auto* window = onboardingWindow_.data()) {
        window->hide();
        // Continue's own click is still on the stack: delete from the event loop.
        window->deleteLater();
        onboardingWindow_.clear();
    }
    // A second Continue before the window has gone must not start the engine twice.
    if (!engineStarted_) {
        engineStarted_ = true;
        startEngine_();
        // The mixer comes up at once, wherever its tray icon may or may not be; from the event
        // loop, once the welcome window has let go of the activation.
        QTimer::singleShot(0, this, [shell = shell_] {
            if (auto* target = shell.data()) {
                target->showPanel();
            }
        });
    }
}

void ShellWindows::checkForUpdates() {
    if (parts_.updates->hasController()) {
        parts_.updates->checkForUpdates();
    }
}

void ShellWindows::setAppearance(Appearance appearance) {
    appearance_ = appearance;
    if (auto* view = settingsWindow_.data()) {
        view->setAppearance(appearance);
    }
    if (auto* view = onboardingWindow_.data()) {
        view->setAppearance(appearance);
    }
}

} // namespace brindell
