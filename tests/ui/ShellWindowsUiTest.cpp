#include "UiTestSupport.h"
#include "crash/CrashController.h"
#include "crash/fake/FakeCrashSender.h"
#include "crash/fake/FakeDiagnosticPayloadService.h"
#include "hotkey/HotkeyController.h"
#include "hotkey/HotkeyRecorderModel.h"
#include "hotkey/fake/FakeHotkeyRegistrar.h"
#include "hotkey/fake/FakeKeyDownMonitor.h"
#include "login/LaunchAtLoginModel.h"
#include "login/fake/FakeLoginItemService.h"
#include "settings/fake/MemorySettingsStorage.h"
#include "shell/OnboardingState.h"
#include "shell/OnboardingView.h"
#include "shell/PanelController.h"
#include "shell/PanelWidgets.h"
#include "shell/SettingsView.h"
#include "shell/ShellController.h"
#include "shell/ShellWindows.h"
#include "shell/StatusItemController.h"
#include "updates/UpdateController.h"

#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace brindell {
namespace {

using testing::settle;
using testing::waitFor;

// What outlives one launch: the settings files.
struct Stored {
    std::shared_ptr<MemorySettingsStorage> onboarding = std::make_shared<MemorySettingsStorage>();
    std::shared_ptr<MemorySettingsStorage> consent = std::make_shared<MemorySettingsStorage>();
    std::shared_ptr<MemorySettingsStorage> hotkey = std::make_shared<MemorySettingsStorage>();
    std::shared_ptr<MemorySettingsStorage> statusItem = std::make_shared<MemorySettingsStorage>();
};

struct LaunchSetup {
    bool crashReporting = true;
    bool desktopBindsShortcut = false;
};

// One launch of the shell with its windows, over fakes: no X11, no network, no files.
struct Launch {
    explicit Launch(Stored& stored, LaunchSetup options = {}) {
        WindowParts parts;
        parts.updates = std::make_shared<UpdateController>(std::nullopt);
        CrashController::Environment environment;
        environment.makeSender = [sender = sender](const std::string&) { return sender; };
        environment.diagnostics = diagnostics;
        parts.crash = CrashController::create(
            options.crashReporting
                ? std::optional<std::string>("https://crash.example.org/v1/crash")
                : std::nullopt,
            stored.consent, std::move(environment));
        parts.launchAtLogin = std::make_shared<LaunchAtLoginModel>(login);
        parts.onboardingStorage = stored.onboarding;
        parts.hotkey = std::make_shared<HotkeyController>(registrar, stored.hotkey);
        parts.recorder = HotkeyRecorderModel::create(parts.hotkey, keys.installer());
        parts.statusItemStorage = stored.statusItem;
        parts.settings.version = "1.2.3";
        parts.settings.desktopBindsShortcut = [bind = options.desktopBindsShortcut] {
            return bind;
        };
        windows = std::make_unique<ShellWindows>(std::move(parts), Appearance{});

        ShellServices services;
        services.engine = std::make_shared<PreviewMixerEngine>();
        services.startEngine = [this] { ++engineStarts; };
        windows->install(services);
        shell = std::make_unique<ShellController>(std::move(services), mainQueue, Appearance{});
        windows->attach(*shell);
    }
    ~Launch() {
        shell.reset();
        windows.reset();
        settle();
    }

    // Throwing instead of dereferencing a null window keeps the optimiser's null checks quiet.
    template <class Window> static Window& must(Window* window) {
        return window != nullptr ? *window : throw std::logic_error("no such window");
    }
    OnboardingView* onboarding() const { return windows->onboardingWindow(); }
    bool onboardingShown() const {
        const OnboardingView* window = onboarding(); // once: the optimiser sees it checked
        return window != nullptr && window->isVisible();
    }
    OnboardingView& welcome() const { return must(onboarding()); }
    SettingsView& settings() {
        windows->openSettings();
        return must(windows->settingsWindow());
    }
    void clickTrayIcon() { shell->status().activated(QSystemTrayIcon::Trigger, Qt::NoModifier); }

    std::shared_ptr<QtMainQueue> mainQueue = std::make_shared<QtMainQueue>();
    std::shared_ptr<FakeHotkeyRegistrar> registrar = std::make_shared<FakeHotkeyRegistrar>();
    FakeKeyDownMonitors keys;
    std::shared_ptr<FakeLoginItemService> login = std::make_shared<FakeLoginItemService>();
    std::shared_ptr<FakeCrashSender> sender = std::make_shared<FakeCrashSender>();
    std::shared_ptr<FakeDiagnosticPayloadService> diagnostics =
        std::make_shared<FakeDiagnosticPayloadService>();
    std::unique_ptr<ShellWindows> windows;
    std::unique_ptr<ShellController> shell;
    int engineStarts = 0;
};

// --- the first run -------------------------------------------------------------------------

// Continuing with the opt-in stores consent, starts the engine and shows the mixer.
TEST(ShellWindows, AFirstRunShowsOnboardingUntilItContinuesWithTheOptIn) {
    Stored stored;
    {
        Launch launch(stored);
        launch.shell->start();
        ASSERT_TRUE(launch.onboardingShown());
        EXPECT_EQ(launch.engineStarts, 0);
        EXPECT_EQ(launch.diagnostics->subscriberCount(), 0u);

        // Closed with its close button: nothing is finished, and the tray icon brings the same
        // window back, never the panel; so does the shortcut.
        OnboardingView* first = launch.onboarding();
        first->close();
        settle();
        EXPECT_FALSE(launch.onboardingShown());
        launch.clickTrayIcon();
        EXPECT_TRUE(launch.onboardingShown());
        EXPECT_EQ(launch.onboarding(), first);
        EXPECT_FALSE(launch.shell->panel().isVisible());
        first->close();
        ASSERT_TRUE(launch.registrar->press(defaultCombo));
        ASSERT_TRUE(waitFor([&] { return launch.onboardingShown(); }));
        EXPECT_FALSE(launch.shell->panel().isVisible());
        EXPECT_EQ(launch.engineStarts, 0);
        EXPECT_FALSE(stored.onboarding->text());

        QCheckBox* optIn = launch.welcome().crashReportsToggle();
        ASSERT_NE(optIn, nullptr);
        EXPECT_FALSE(optIn->isChecked()) << "off unless ticked";
        optIn->click();
        launch.welcome().continueButton()->click();

        EXPECT_TRUE(launch.windows->parts().crash->isOn());
        EXPECT_EQ(launch.engineStarts, 1);
        EXPECT_EQ(launch.onboarding(), nullptr) << "the window is dropped";
        EXPECT_TRUE(waitFor([&] { return launch.shell->panel().isVisible(); }));

        // From now on the tray icon toggles the panel; the settings' button only opens it.
        launch.clickTrayIcon();
        EXPECT_FALSE(launch.shell->panel().isVisible());
        QPushButton* showMixer = launch.settings().showMixerButton();
        showMixer->click();
        EXPECT_TRUE(launch.shell->panel().isVisible());
        showMixer->click();
        EXPECT_TRUE(launch.shell->panel().isVisible());
    }

    // Both were stored: the next launch starts the engine at once and subscribes to crash
    // diagnostics.
    Launch next(stored);
    next.shell->start();
    EXPECT_EQ(next.engineStarts, 1);
    EXPECT_EQ(next.onboarding(), nullptr);
    EXPECT_EQ(next.diagnostics->subscriberCount(), 1u);
}

TEST(ShellWindows, TheKeyboardContinuesWithTheOptInAsShownOrWithoutOneEvenIfNothingIsSaved) {
    Stored stored;
    {
        Launch launch(stored);
        launch.shell->start();
        OnboardingView& window = launch.welcome();
        window.crashReportsToggle()->click();
        window.crashReportsToggle()->setFocus();
        QTest::keyClick(window.crashReportsToggle(), Qt::Key_Return);
        EXPECT_EQ(launch.engineStarts, 1);
        EXPECT_TRUE(launch.windows->parts().crash->isOn());
        // A second press before the window has gone starts nothing twice.
        launch.windows->finishOnboarding(true);
        EXPECT_EQ(launch.engineStarts, 1);
    }
    // Without crash reporting there is no opt-in, and continuing consents to nothing. A record
    // that cannot be saved still starts the engine, and onboarding comes again.
    Stored fresh;
    fresh.onboarding->failWrites = true;
    {
        Launch launch(fresh, LaunchSetup{.crashReporting = false});
        launch.shell->start();
        EXPECT_EQ(launch.welcome().crashReportsToggle(), nullptr);
        EXPECT_FALSE(launch.welcome().texts().join('\n').contains("crash reports"));
        QTest::keyClick(&launch.welcome(), Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_EQ(launch.engineStarts, 1);
        EXPECT_FALSE(fresh.consent->text());
    }
    Launch next(fresh);
    next.shell->start();
    EXPECT_TRUE(next.onboardingShown());
    EXPECT_EQ(next.engineStarts, 0);
}

// --- the settings window -------------------------------------------------------------------

Stored onboarded() {
    Stored stored;
    stored.onboarding->set(OnboardingState::encode({1, true}));
    return stored;
}

TEST(ShellWindows, SettingsOpenAsOneWindowFromTheMenuThePanelAndAReopen) {
    Stored stored = onboarded();
    Launch launch(stored);
    launch.shell->start();
    EXPECT_EQ(launch.engineStarts, 1);
    EXPECT_EQ(launch.windows->settingsWindow(), nullptr) << "built on first use";

    launch.shell->status().menu()->actions().at(0)->trigger();
    SettingsView* window = launch.windows->settingsWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowCloseButtonHint));

    window->close();
    settle();
    EXPECT_FALSE(window->isVisible());
    launch.shell->openSettings(); // a second launch of brindell
    EXPECT_EQ(launch.windows->settingsWindow(), window);
    EXPECT_TRUE(window->isVisible());

    // The panel's settings button hides the panel first.
    window->close();
    launch.shell->togglePanel();
    ASSERT_TRUE(launch.shell->panel().isVisible());
    auto* gear = launch.shell->view().footer()->findChild<SymbolButton*>();
    ASSERT_NE(gear, nullptr);
    gear->click();
    EXPECT_FALSE(launch.shell->panel().isVisible());
    EXPECT_TRUE(window->isVisible());

    // This build checks for no updates, in the window or the tray menu.
    EXPECT_EQ(window->versionLabel()->text(), "Brindell 1.2.3");
    EXPECT_NE(window->noUpdatesLabel(), nullptr);
    EXPECT_EQ(window->checkForUpdatesButton(), nullptr);
    EXPECT_EQ(window->automaticChecksToggle(), nullptr);
}

TEST(ShellWindows, TheIconSwitchIsRememberedTheLoginSwitchRegistersAndTheWindowsFollowTheDark) {
    Stored stored = onboarded();
    Launch launch(stored);
    launch.shell->start();
    SettingsView& settings = launch.settings();
    QCheckBox* toggle = settings.iconToggle();
    ASSERT_TRUE(toggle->isChecked());
    ASSERT_TRUE(launch.shell->status().isVisible());

    toggle->click();
    EXPECT_FALSE(launch.shell->status().isVisible());
    // The panel is still reached through the shortcut.
    ASSERT_TRUE(launch.registrar->press(defaultCombo));
    EXPECT_TRUE(waitFor([&] { return launch.shell->panel().isVisible(); }));

    toggle->click();
    EXPECT_TRUE(launch.shell->status().isVisible());
    EXPECT_EQ(decodeIconVisibility(*stored.statusItem->load()), true);

    // The login switch registers, and shows a failure and what really holds.
    QCheckBox* login = settings.loginToggle();
    EXPECT_FALSE(login->isChecked());
    EXPECT_TRUE(settings.loginItemsButton()->isHidden());

    login->click();
    EXPECT_EQ(launch.login->registerCalls, 1);
    EXPECT_TRUE(login->isChecked());
    EXPECT_TRUE(settings.loginMessage()->isHidden());

    launch.login->failure = "the autostart folder is read-only";
    login->click();
    EXPECT_EQ(launch.login->unregisterCalls, 1);
    EXPECT_TRUE(login->isChecked()) << "the switch shows what really holds";
    EXPECT_FALSE(settings.loginMessage()->isHidden());
    EXPECT_TRUE(settings.loginMessage()->text().endsWith("the autostart folder is read-only"));

    // Approval pending: the switch is on and the login-items button appears.
    launch.login->failure.reset();
    launch.login->statusAfterRegister = 2;
    launch.windows->parts().launchAtLogin->set(true);
    EXPECT_FALSE(settings.loginItemsButton()->isHidden());

    // The windows follow the dark appearance.
    launch.windows->showOnboarding();
    Appearance dark;
    dark.dark = true;
    launch.windows->setAppearance(dark);
    EXPECT_TRUE(PanelTheme::isDark(settings.palette()));
    EXPECT_TRUE(PanelTheme::isDark(launch.welcome().palette()));
    launch.windows->setAppearance(Appearance{});
    EXPECT_FALSE(PanelTheme::isDark(settings.palette()));

    // Hidden at the next launch; the switch shows it as the window was first built.
    toggle->click();
    Launch next(stored);
    next.shell->start();
    EXPECT_FALSE(next.shell->status().isVisible());
    EXPECT_FALSE(next.settings().iconToggle()->isChecked());
    next.shell->setIconVisible(true); // behind the window's back
    EXPECT_FALSE(next.settings().iconToggle()->isChecked());
}

TEST(ShellWindows, TheShortcutSectionRecordsANewShortcutOrPointsToTheDesktopsSettings) {
    Stored stored = onboarded();
    Launch launch(stored);
    launch.shell->start();
    SettingsView& settings = launch.settings();
    EXPECT_EQ(settings.shortcutLabel()->text(), "Ctrl+Shift+Super+M");
    EXPECT_TRUE(settings.shortcutMessage()->isHidden());
    EXPECT_TRUE(settings.desktopShortcutHint()->isHidden());

    // A refused key keeps recording and says why.
    settings.recordButton()->click();
    launch.keys.send({40, HotkeyModifiers::controlFlag | HotkeyModifiers::optionFlag});
    EXPECT_FALSE(settings.shortcutMessage()->isHidden());
    EXPECT_EQ(settings.recordButton()->text(), "Cancel");

    launch.keys.send({40, HotkeyModifiers::optionFlag | HotkeyModifiers::commandFlag});
    EXPECT_EQ(settings.shortcutLabel()->text(), "Alt+Super+K");
    EXPECT_TRUE(settings.iconCaption()->text().contains("press Alt+Super+K"));
    EXPECT_EQ(settings.recordButton()->text(), "Record");
    EXPECT_TRUE(settings.shortcutMessage()->isHidden());
    const HotkeyCombo altSuperK{40, {HotkeyModifiers::option | HotkeyModifiers::command}};
    EXPECT_EQ(launch.registrar->registered, altSuperK);
    // The new shortcut toggles the panel; the old one is gone.
    EXPECT_FALSE(launch.registrar->press(defaultCombo));
    ASSERT_TRUE(launch.registrar->press(altSuperK));
    EXPECT_TRUE(waitFor([&] { return launch.shell->panel().isVisible(); }));

    settings.defaultButton()->click();
    EXPECT_TRUE(settings.iconCaption()->text().contains("press Ctrl+Shift+Super+M"));

    // Cancel ends recording and the key goes back to the window.
    settings.recordButton()->click();
    settings.recordButton()->click();
    EXPECT_EQ(settings.recordButton()->text(), "Record");
    EXPECT_FALSE(launch.keys.isInstalled());

    // Without a grab of its own the section points to the desktop's keyboard settings.
    Launch bound(stored, LaunchSetup{.desktopBindsShortcut = true});
    bound.shell->start();
    QLabel* hint = bound.settings().desktopShortcutHint();
    EXPECT_FALSE(hint->isHidden());
    EXPECT_TRUE(hint->text().endsWith("brindell ctl toggle"));
}

TEST(ShellWindows, ThePrivacySectionAndItsSwitchFollowCrashReportingAndTheConsent) {
    Stored stored = onboarded();
    {
        Launch launch(stored);
        SettingsView& settings = launch.settings();
        EXPECT_EQ(settings.sectionHeaders(),
                  (QStringList{"Shortcut", "System tray", "Startup", "Updates", "Privacy"}));
        EXPECT_EQ(settings.privacyLink(), nullptr) << "no privacy address configured";
        // The sample report, collapsed at first.
        EXPECT_TRUE(settings.sampleText()->isHidden());
        settings.sampleDisclosure()->click();
        EXPECT_FALSE(settings.sampleText()->isHidden());
        EXPECT_TRUE(settings.sampleText()->text().contains("\"frames\""));
        EXPECT_TRUE(
            settings.sampleText()->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));

        // The crash switch shows what the consent holds.
        launch.shell->start();
        QCheckBox* toggle = settings.crashToggle();
        EXPECT_FALSE(toggle->isChecked());
        toggle->click();
        EXPECT_TRUE(toggle->isChecked());
        EXPECT_TRUE(launch.windows->parts().crash->isOn());
        EXPECT_EQ(launch.diagnostics->subscriberCount(), 1u);
        stored.consent->failWrites = true;
        toggle->click();
        EXPECT_TRUE(toggle->isChecked()) << "a failed write leaves consent on";
        EXPECT_TRUE(launch.windows->parts().crash->isOn());
    }
    Launch launch(stored, LaunchSetup{.crashReporting = false});
    SettingsView& settings = launch.settings();
    EXPECT_EQ(settings.sectionHeaders(),
              (QStringList{"Shortcut", "System tray", "Startup", "Updates"}));
    EXPECT_EQ(settings.privacySection(), nullptr);
}

} // namespace
} // namespace brindell
