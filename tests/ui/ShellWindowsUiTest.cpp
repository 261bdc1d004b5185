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
#include <stdexcept>

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
    std::vector<HotkeyCombo> heldByOthers;
    bool desktopBindsShortcut = false;
};

LaunchSetup withoutCrashReporting() {
    LaunchSetup setup;
    setup.crashReporting = false;
    return setup;
}

// One launch of the shell with its windows, over fakes: no X11, no network, no files.
struct Launch {
    explicit Launch(Stored& stored, LaunchSetup options = {}) {
        registrar->heldByOthers = options.heldByOthers;
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

    OnboardingView* onboarding() const { return windows->onboardingWindow(); }
    bool onboardingShown() const {
        const OnboardingView* window = onboarding();
        return window != nullptr && window->isVisible();
    }
    OnboardingView& welcome() const {
        OnboardingView* window = onboarding();
        if (window == nullptr) {
            throw std::logic_error("no onboarding window");
        }
        return *window;
    }
    SettingsView& settings() {
        windows->openSettings();
        SettingsView* window = windows->settingsWindow();
        if (window == nullptr) {
            throw std::logic_error("openSettings built no window");
        }
        return *window;
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

TEST(ShellWindows, AFirstRunShowsOnboardingAndNeitherTheEngineNorThePanel) {
    Stored stored;
    Launch launch(stored);
    launch.shell->start();
    ASSERT_TRUE(launch.onboardingShown());
    EXPECT_EQ(launch.welcome().windowTitle(), "Welcome to Brindell");
    EXPECT_EQ(launch.welcome().width(), 460);
    EXPECT_EQ(launch.engineStarts, 0);
    EXPECT_EQ(launch.diagnostics->subscriberCount(), 0u);

    // Closed with its close button: nothing is finished, and the tray icon brings the same
    // window back, never the panel.
    OnboardingView* first = launch.onboarding();
    first->close();
    settle();
    EXPECT_FALSE(launch.onboardingShown());
    launch.clickTrayIcon();
    EXPECT_TRUE(launch.onboardingShown());
    EXPECT_EQ(launch.onboarding(), first);
    EXPECT_FALSE(launch.shell->panel().isVisible());

    // So does the shortcut.
    first->close();
    ASSERT_TRUE(launch.registrar->press(defaultCombo));
    ASSERT_TRUE(waitFor([&] { return launch.onboardingShown(); }));
    EXPECT_FALSE(launch.shell->panel().isVisible());
    EXPECT_EQ(launch.engineStarts, 0);
    EXPECT_FALSE(stored.onboarding->text());
}

TEST(ShellWindows, ContinueWithTheOptInStoresConsentAndStartsTheEngine) {
    Stored stored;
    {
        Launch launch(stored);
        launch.shell->start();
        QCheckBox* optIn = launch.welcome().crashReportsToggle();
        ASSERT_NE(optIn, nullptr);
        EXPECT_EQ(optIn->text(), "Send anonymous crash reports (optional)");
        EXPECT_FALSE(optIn->isChecked()) << "off unless ticked";
        optIn->click();
        launch.welcome().continueButton()->click();

        EXPECT_EQ(stored.onboarding->text(), R"({"completed":true,"version":1})");
        EXPECT_TRUE(launch.windows->parts().crash->isOn());
        EXPECT_NE(stored.consent->text().value_or("").find("\"since\""), std::string::npos);
        EXPECT_EQ(launch.engineStarts, 1);
        EXPECT_EQ(launch.onboarding(), nullptr) << "the window is dropped";

        // From now on the tray icon opens the panel.
        launch.clickTrayIcon();
        EXPECT_TRUE(launch.shell->panel().isVisible());
    }

    // The next launch starts the engine at once and subscribes to crash diagnostics.
    Launch next(stored);
    next.shell->start();
    EXPECT_EQ(next.engineStarts, 1);
    EXPECT_EQ(next.onboarding(), nullptr);
    EXPECT_EQ(next.diagnostics->subscriberCount(), 1u);
}

TEST(ShellWindows, ContinueWithoutTheOptInLeavesCrashReportsOff) {
    Stored stored;
    Launch launch(stored);
    launch.shell->start();
    launch.welcome().continueButton()->click();
    EXPECT_FALSE(launch.windows->parts().crash->isOn());
    EXPECT_FALSE(stored.consent->text());
    EXPECT_EQ(launch.engineStarts, 1);
}

TEST(ShellWindows, ContinueAndTheSettingsButtonShowTheMixerWhereverTheTrayIs) {
    Stored stored;
    Launch launch(stored);
    launch.shell->start();
    launch.welcome().continueButton()->click();
    EXPECT_TRUE(waitFor([&] { return launch.shell->panel().isVisible(); }));
    launch.shell->panel().hide();

    QPushButton* showMixer = launch.settings().showMixerButton();
    ASSERT_NE(showMixer, nullptr);
    EXPECT_EQ(showMixer->text(), "Show mixer");
    showMixer->click();
    EXPECT_TRUE(launch.shell->panel().isVisible());
    showMixer->click();
    EXPECT_TRUE(launch.shell->panel().isVisible()) << "it opens, never closes";
}

TEST(ShellWindows, ReturnContinuesWithTheOptInAsShown) {
    Stored stored;
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

TEST(ShellWindows, WithoutCrashReportingThereIsNoOptInAndContinuePassesFalse) {
    Stored stored;
    Launch launch(stored, withoutCrashReporting());
    launch.shell->start();
    EXPECT_EQ(launch.welcome().crashReportsToggle(), nullptr);
    EXPECT_FALSE(launch.welcome().texts().join('\n').contains("crash reports"));
    QTest::keyClick(&launch.welcome(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(launch.engineStarts, 1);
    EXPECT_FALSE(stored.consent->text());
}

TEST(ShellWindows, TheWelcomeWindowSaysWhatBrindellDoesInOrder) {
    Stored stored;
    Launch launch(stored);
    launch.windows->showOnboarding();
    const QStringList texts = launch.welcome().texts();
    const QStringList expected = {
        "Welcome to Brindell",
        "Brindell gives every app its own volume and output device.",
        "It listens to app audio output",
        "It never uses the microphone",
        "Nothing is recorded or stored",
        "1. Press Continue.",
        "2. Play something in any app. It appears in the mixer.",
        "3. Move its slider. You hear the change at once.",
        "If the audio server does not let Brindell capture app audio, apps keep playing normally "
        "and the mixer explains what to do.",
        "Off unless you tick this. If Brindell crashes, it sends the app and system version and "
        "where in the code it crashed. Never audio, the apps you use, or anything about you. You "
        "can change this any time in Settings.",
        "Continue",
    };
    qsizetype at = -1;
    for (const QString& text : expected) {
        const qsizetype found = texts.indexOf(text);
        EXPECT_GT(found, at) << text.toStdString();
        at = found;
    }
}

TEST(ShellWindows, FinishingWhenTheRecordCannotBeSavedStillStartsTheEngine) {
    Stored stored;
    stored.onboarding->failWrites = true;
    {
        Launch launch(stored);
        launch.shell->start();
        launch.welcome().continueButton()->click();
        EXPECT_EQ(launch.engineStarts, 1);
    }
    Launch next(stored);
    next.shell->start();
    EXPECT_TRUE(next.onboardingShown()) << "onboarding comes again";
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
    EXPECT_EQ(window->windowTitle(), "Brindell Settings");
    EXPECT_EQ(window->size(), QSize(420, 780));
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
    QAbstractButton* gear = nullptr;
    for (auto* button : launch.shell->view().findChildren<QAbstractButton*>()) {
        if (button->accessibleName() == "Brindell Settings") {
            gear = button;
        }
    }
    ASSERT_NE(gear, nullptr);
    gear->click();
    EXPECT_FALSE(launch.shell->panel().isVisible());
    EXPECT_TRUE(window->isVisible());
}

TEST(ShellWindows, TheIconSwitchHidesAndShowsTheTrayIconAndIsRemembered) {
    Stored stored = onboarded();
    Launch launch(stored);
    launch.shell->start();
    SettingsView& settings = launch.settings();
    QCheckBox* toggle = settings.iconToggle();
    EXPECT_EQ(toggle->text(), "Show icon in the system tray");
    ASSERT_TRUE(toggle->isChecked());
    ASSERT_TRUE(launch.shell->status().isVisible());

    toggle->click();
    EXPECT_FALSE(launch.shell->status().isVisible());
    EXPECT_EQ(decodeIconVisibility(*stored.statusItem->load()), false);
    // The panel is still reached through the shortcut.
    ASSERT_TRUE(launch.registrar->press(defaultCombo));
    EXPECT_TRUE(waitFor([&] { return launch.shell->panel().isVisible(); }));

    toggle->click();
    EXPECT_TRUE(launch.shell->status().isVisible());
    EXPECT_EQ(decodeIconVisibility(*stored.statusItem->load()), true);
}

TEST(ShellWindows, TheIconSwitchStartsFromTheIconAsTheWindowWasFirstBuilt) {
    Stored stored = onboarded();
    stored.statusItem->set(encodeIconVisibility(false));
    Launch launch(stored);
    launch.shell->start();
    EXPECT_FALSE(launch.shell->status().isVisible()) << "remembered across launches";
    EXPECT_FALSE(launch.settings().iconToggle()->isChecked());
    launch.shell->setIconVisible(true); // behind the window's back
    EXPECT_FALSE(launch.settings().iconToggle()->isChecked());
}

TEST(ShellWindows, RecordingANewShortcutUpdatesTheShortcutLineAndTheTrayHint) {
    Stored stored = onboarded();
    Launch launch(stored);
    launch.shell->start();
    SettingsView& settings = launch.settings();
    EXPECT_EQ(settings.shortcutLabel()->text(), "Ctrl+Shift+Super+M");
    EXPECT_EQ(settings.iconCaption()->text(),
              "If the icon is hidden or there is no system tray, press Ctrl+Shift+Super+M "
              "to open the mixer.");
    EXPECT_TRUE(settings.shortcutMessage()->isHidden());

    settings.recordButton()->click();
    EXPECT_EQ(settings.recordButton()->text(), "Cancel");
    EXPECT_FALSE(settings.shortcutMessage()->isHidden());
    EXPECT_EQ(settings.shortcutMessage()->text(), "Press the new shortcut (Esc to cancel)");

    // A refused key keeps recording and says why.
    const auto flags = [](std::initializer_list<std::uint64_t> each) {
        std::uint64_t all = 0;
        for (auto flag : each) {
            all |= flag;
        }
        return all;
    };
    launch.keys.send({40, flags({HotkeyModifiers::controlFlag, HotkeyModifiers::optionFlag})});
    EXPECT_EQ(settings.shortcutMessage()->text(),
              "Ctrl and Alt together are kept for system shortcuts. Try another.");
    EXPECT_EQ(settings.recordButton()->text(), "Cancel");

    launch.keys.send({40, flags({HotkeyModifiers::optionFlag, HotkeyModifiers::commandFlag})});
    EXPECT_EQ(settings.shortcutLabel()->text(), "Alt+Super+K");
    EXPECT_EQ(settings.iconCaption()->text(),
              "If the icon is hidden or there is no system tray, press Alt+Super+K to open "
              "the mixer.");
    EXPECT_EQ(settings.recordButton()->text(), "Record");
    EXPECT_TRUE(settings.shortcutMessage()->isHidden());
    const HotkeyCombo altSuperK{40, {HotkeyModifiers::option | HotkeyModifiers::command}};
    EXPECT_EQ(launch.registrar->registered, altSuperK);
    EXPECT_EQ(stored.hotkey->text(), R"({"keyCode":40,"modifiers":3})");
    // The new shortcut toggles the panel; the old one is gone.
    EXPECT_FALSE(launch.registrar->press(defaultCombo));
    ASSERT_TRUE(launch.registrar->press(altSuperK));
    EXPECT_TRUE(waitFor([&] { return launch.shell->panel().isVisible(); }));

    settings.defaultButton()->click();
    EXPECT_EQ(settings.shortcutLabel()->text(), "Ctrl+Shift+Super+M");
    EXPECT_NE(settings.iconCaption()->text().indexOf("Ctrl+Shift+Super+M"), -1);

    // Cancel ends recording and the key goes back to the window.
    settings.recordButton()->click();
    settings.recordButton()->click();
    EXPECT_EQ(settings.recordButton()->text(), "Record");
    EXPECT_FALSE(launch.keys.isInstalled());
}

TEST(ShellWindows, ARefusedSavedShortcutShowsTheFallbackNotice) {
    Stored stored = onboarded();
    const HotkeyCombo saved{40, {HotkeyModifiers::option | HotkeyModifiers::command}};
    stored.hotkey->set(encodeHotkeyCombo(saved));
    LaunchSetup taken;
    taken.heldByOthers = {saved};
    Launch launch(stored, taken);
    launch.shell->start();
    SettingsView& settings = launch.settings();
    EXPECT_EQ(settings.shortcutLabel()->text(), "Ctrl+Shift+Super+M");
    EXPECT_FALSE(settings.shortcutMessage()->isHidden());
    EXPECT_EQ(settings.shortcutMessage()->text().toStdString(),
              HotkeyRecorderModel::fallbackMessage);
}

TEST(ShellWindows, WithoutAGrabTheShortcutSectionPointsToTheDesktopsKeyboardSettings) {
    Stored stored = onboarded();
    {
        Launch launch(stored);
        launch.shell->start();
        EXPECT_TRUE(launch.settings().desktopShortcutHint()->isHidden());
    }
    LaunchSetup wayland;
    wayland.desktopBindsShortcut = true;
    Launch launch(stored, wayland);
    launch.shell->start();
    QLabel* hint = launch.settings().desktopShortcutHint();
    EXPECT_FALSE(hint->isHidden());
    EXPECT_TRUE(hint->text().endsWith("brindell ctl toggle"));
    EXPECT_TRUE(hint->text().contains("keyboard settings"));
}

TEST(ShellWindows, TheSectionsFollowCrashReportingAndTheWindowHeightWithThem) {
    Stored stored = onboarded();
    {
        Launch launch(stored);
        SettingsView& settings = launch.settings();
        EXPECT_EQ(settings.sectionHeaders(),
                  (QStringList{"Shortcut", "System tray", "Startup", "Updates", "Privacy"}));
        EXPECT_EQ(settings.height(), 780);
        EXPECT_EQ(settings.crashToggle()->text(), "Send anonymous crash reports");
        EXPECT_TRUE(settings.crashCaption()->text().startsWith(
            "Off by default. If Brindell crashes, it sends the app and system version and where "
            "in the code it crashed, only while this is on."));
        EXPECT_TRUE(settings.crashCaption()->text().endsWith("identifies you or your computer."));
        EXPECT_EQ(settings.privacyLink(), nullptr) << "no privacy address configured";
        // The sample report, collapsed at first.
        EXPECT_TRUE(settings.sampleText()->isHidden());
        EXPECT_EQ(settings.sampleDisclosure()->text(), "What a report contains");
        settings.sampleDisclosure()->click();
        EXPECT_FALSE(settings.sampleText()->isHidden());
        EXPECT_TRUE(settings.sampleText()->text().contains("\"frames\""));
        EXPECT_TRUE(
            settings.sampleText()->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
    }
    Launch launch(stored, withoutCrashReporting());
    SettingsView& settings = launch.settings();
    EXPECT_EQ(settings.sectionHeaders(),
              (QStringList{"Shortcut", "System tray", "Startup", "Updates"}));
    EXPECT_EQ(settings.height(), 640);
    EXPECT_EQ(settings.privacySection(), nullptr);
    EXPECT_EQ(settings.size().width(), 420);
}

TEST(ShellWindows, ThisBuildSaysItDoesNotCheckForUpdates) {
    Stored stored = onboarded();
    Launch launch(stored);
    launch.shell->start();
    SettingsView& settings = launch.settings();
    EXPECT_EQ(settings.versionLabel()->text(), "Brindell 1.2.3");
    ASSERT_NE(settings.noUpdatesLabel(), nullptr);
    EXPECT_EQ(settings.noUpdatesLabel()->text(), "This build does not check for updates.");
    EXPECT_EQ(settings.checkForUpdatesButton(), nullptr);
    EXPECT_EQ(settings.automaticChecksToggle(), nullptr);
    // Nor does the tray menu offer it.
    for (QAction* action : launch.shell->status().menu()->actions()) {
        EXPECT_NE(action->text(), "Check for Updates\u2026");
    }
}

TEST(ShellWindows, TheLoginSwitchRegistersAndShowsAFailure) {
    Stored stored = onboarded();
    Launch launch(stored);
    SettingsView& settings = launch.settings();
    QCheckBox* toggle = settings.loginToggle();
    EXPECT_EQ(toggle->text(), "Open Brindell at login");
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_TRUE(settings.loginItemsButton()->isHidden());

    toggle->click();
    EXPECT_EQ(launch.login->registerCalls, 1);
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_TRUE(settings.loginMessage()->isHidden());

    launch.login->failure = "the autostart folder is read-only";
    toggle->click();
    EXPECT_EQ(launch.login->unregisterCalls, 1);
    EXPECT_TRUE(toggle->isChecked()) << "the switch shows what really holds";
    EXPECT_FALSE(settings.loginMessage()->isHidden());
    EXPECT_EQ(settings.loginMessage()->text(),
              "Could not turn off opening at login: the autostart folder is read-only");

    // Approval pending: the switch is on and the login-items button appears.
    launch.login->failure.reset();
    launch.login->statusAfterRegister = 2;
    launch.windows->parts().launchAtLogin->set(true);
    EXPECT_FALSE(settings.loginItemsButton()->isHidden());
    EXPECT_EQ(settings.loginItemsButton()->text(), "Open Login Items");
}

TEST(ShellWindows, TheCrashSwitchShowsWhatTheConsentHolds) {
    Stored stored = onboarded();
    Launch launch(stored);
    launch.shell->start();
    QCheckBox* toggle = launch.settings().crashToggle();
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

TEST(ShellWindows, TheWindowsFollowTheDarkAppearance) {
    Stored stored = onboarded();
    Launch launch(stored);
    SettingsView& settings = launch.settings();
    launch.windows->showOnboarding();
    Appearance dark;
    dark.dark = true;
    launch.windows->setAppearance(dark);
    EXPECT_TRUE(PanelTheme::isDark(settings.palette()));
    EXPECT_TRUE(PanelTheme::isDark(launch.welcome().palette()));
    launch.windows->setAppearance(Appearance{});
    EXPECT_FALSE(PanelTheme::isDark(settings.palette()));
}

} // namespace
} // namespace brindell
