#include "UiTestSupport.h"
#include "mixer/PreviewContent.h"
#include "shell/PanelController.h"
#include "shell/ShellController.h"
#include "shell/StatusItemController.h"

#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>

namespace brindell {
namespace {

using testing::settle;
using testing::waitFor;

// A shell over the preview engine whose services record what is asked of them.
struct Shell {
    explicit Shell(bool onboarded = true) {
        engine = std::make_shared<PreviewMixerEngine>();
        ShellServices services;
        services.engine = engine;
        services.startEngine = [this] { calls.push_back("startEngine"); };
        services.stopEngine = [this] { calls.push_back("stopEngine"); };
        services.resetAudio = [this] { calls.push_back("resetAudio"); };
        services.startShortcut = [this](std::function<void()> handler) {
            calls.push_back("startShortcut");
            shortcut = std::move(handler);
        };
        services.unregisterShortcut = [this] { calls.push_back("unregisterShortcut"); };
        services.openSettings = [this] { calls.push_back("openSettings"); };
        services.onboardingCompleted = [this] { return onboardingDone; };
        services.showOnboarding = [this] { calls.push_back("showOnboarding"); };
        services.startUpdates = [this] { calls.push_back("startUpdates"); };
        services.subscribeCrashReports = [this] { calls.push_back("subscribeCrashReports"); };
        onboardingDone = onboarded;
        shell = std::make_unique<ShellController>(std::move(services), mainQueue, Appearance{});
    }
    ~Shell() {
        shell.reset();
        settle();
    }
    bool panelOpen() { return shell->panel().isVisible(); }

    std::shared_ptr<QtMainQueue> mainQueue = std::make_shared<QtMainQueue>();
    std::shared_ptr<PreviewMixerEngine> engine;
    std::vector<std::string> calls;
    std::function<void()> shortcut;
    bool onboardingDone = true;
    std::unique_ptr<ShellController> shell;
};

using Calls = std::vector<std::string>;

TEST(ShellController, StartsAndEndsInOrderAndTheShortcutTogglesThePanel) {
    Shell s;
    EXPECT_TRUE(s.calls.empty()) << "construction starts nothing";
    s.shell->start();
    EXPECT_EQ(s.calls,
              (Calls{"startUpdates", "subscribeCrashReports", "startShortcut", "startEngine"}));
    s.shell->start();
    EXPECT_EQ(s.calls.size(), 4u) << "start runs once";

    // The shortcut toggles the panel, from the main queue.
    ASSERT_TRUE(s.shortcut);
    s.shortcut();
    EXPECT_FALSE(s.panelOpen()) << "the handler only schedules the toggle";
    ASSERT_TRUE(waitFor([&] { return s.panelOpen(); }));
    s.shortcut();
    ASSERT_TRUE(waitFor([&] { return !s.panelOpen(); }));

    // Termination unregisters the shortcut before the engine stops, once.
    s.calls.clear();
    s.shell->terminate();
    EXPECT_EQ(s.calls, (Calls{"unregisterShortcut", "stopEngine"}));
    s.shell->terminate();
    EXPECT_EQ(s.calls.size(), 2u) << "once only";
}

TEST(ShellController, TheTrayIconTogglesAndItsMenuReachesTheShell) {
    Shell s;
    s.shell->start();
    StatusItemController& status = s.shell->status();
    // Ctrl and a left click open the menu instead, and the next plain click toggles.
    status.activated(QSystemTrayIcon::Trigger, Qt::ControlModifier);
    EXPECT_FALSE(s.panelOpen());
    EXPECT_TRUE(waitFor([&] { return status.menu()->isVisible(); }));
    status.menu()->close();
    status.activated(QSystemTrayIcon::Trigger, Qt::NoModifier);
    EXPECT_TRUE(s.panelOpen());
    status.activated(QSystemTrayIcon::Trigger, Qt::NoModifier);
    EXPECT_FALSE(s.panelOpen());

    // The menu's settings entry is ShellWindows'; its reset entry reaches the shell.
    status.menu()->actions().at(1)->trigger();
    EXPECT_EQ(s.calls.back(), "resetAudio");
}

TEST(ShellController, TheTraysWheelAndMiddleClickSetTheMasterAndAReopenOnlyOpensThePanel) {
    Shell s;
    s.shell->start();
    settle();
    ASSERT_TRUE(s.shell->model().master.get());
    StatusItemController& status = s.shell->status();
    for (const auto& [steps, volume] : {std::pair{1, 0.65F}, {-3, 0.5F}, {40, 1.0F}, {-40, 0.0F}}) {
        status.onMasterSteps(steps);
        EXPECT_NEAR(*s.shell->model().master.get()->volume, volume, 1e-4) << steps;
    }
    settle();
    EXPECT_EQ(s.engine->snapshot().master->volume, 0.0F) << "the engine got it";

    status.activated(QSystemTrayIcon::MiddleClick, Qt::NoModifier);
    EXPECT_TRUE(*s.shell->model().master.get()->isMuted);
    status.onToggleMasterMute();
    EXPECT_FALSE(*s.shell->model().master.get()->isMuted);
    EXPECT_FALSE(s.panelOpen());

    // Without a tray (neither a watcher on a bus nor an XEmbed tray here), a reopen opens the
    // panel but never closes it.
    ASSERT_FALSE(s.shell->status().isReachable());
    s.shell->reopen();
    EXPECT_TRUE(s.panelOpen());
    EXPECT_EQ(std::count(s.calls.begin(), s.calls.end(), "openSettings"), 0);
    s.shell->reopen();
    EXPECT_TRUE(s.panelOpen()) << "a launch never closes it";

    // Showing the panel clears the keyboard cursor.
    s.shell->togglePanel();
    s.shell->model().keyboardTarget.set(KeyboardTarget::row(2));
    s.shell->togglePanel();
    EXPECT_FALSE(s.shell->model().keyboardTarget.get());
}

TEST(ShellController, ThePanelIsRemeasuredWhenRowsOrThePermissionChangeButNotForVolumes) {
    Shell s;
    s.shell->start();
    // A permission change while hidden is measured at the next show.
    s.engine->publish(previewSnapshot(PreviewState::denied, 0));
    settle();
    EXPECT_FALSE(s.panelOpen());
    s.shell->togglePanel();
    settle();
    PanelController& panel = s.shell->panel();
    EXPECT_EQ(panel.panel()->height(), panel.measure(true).height());
    EXPECT_TRUE(s.shell->view().banner()->isVisible());
    const int height = panel.panel()->height();

    // A volume change re-measures nothing: a panel resized behind the shell's back stays so.
    panel.panel()->resize(380, height + 40);
    s.engine->setVolume(1, 0.2f);
    settle();
    EXPECT_EQ(panel.panel()->height(), height + 40);

    // A new row does.
    MixerSnapshot more = s.engine->current();
    MixerRow extra;
    extra.pid = 77;
    extra.name = "Podcasts";
    more.rows.push_back(extra);
    s.engine->publish(more);
    settle();
    EXPECT_EQ(panel.panel()->height(), panel.measure(true).height());
    EXPECT_GT(panel.panel()->height(), height);
}

TEST(ShellController, QuitFromTheMenuGoesThroughTheApplicationsQuit) {
    Shell s;
    s.shell->start();
    bool quitting = false;
    QObject scope; // the connections and the watchdog end with the test
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &scope, [&] {
        quitting = true;
        s.shell->terminate();
    });
    // The quit entry is queued to the event loop; run one loop for it to end.
    QAction* quit = s.shell->status().menu()->actions().back();
    ASSERT_EQ(quit->text(), "Quit Brindell");
    QTimer::singleShot(0, quit, &QAction::trigger);
    QTimer::singleShot(5000, &scope, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(quitting);
    EXPECT_TRUE(s.shell->isTerminated());
    EXPECT_EQ(s.calls.back(), "stopEngine");
}

} // namespace
} // namespace brindell
