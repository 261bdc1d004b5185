#include "mixer/LiveMixerEngine.h"

#include "audio/fake/FakeAudioHardware.h"
#include "mixer/MixerViewModel.h"
#include "output/fake/FakeSystemAudioControl.h"
#include "queue/DeterministicQueue.h"
#include "settings/fake/MemorySettingsStorage.h"
#include "sources/fake/FakeAppInfoProvider.h"
#include "sources/fake/FakeAudioProcessSource.h"
#include "sources/fake/FakeWorkspace.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace brindell {
namespace {

using Op = FakeAudioHardware::Op;
using Kind = TapSessionState::Kind;

const std::string player = "org.example.Player";
const std::string browser = "org.example.Browser";

// The engine over fakes of every platform service, all on one deterministic scheduler: the
// engine's queue and the listener queue the fakes report on. run() advances virtual time in
// small steps and lets the fake hardware render a cycle at every step, as a device would.
class LiveMixerEngineTest : public ::testing::Test {
protected:
    DeterministicScheduler scheduler{0.0};
    std::shared_ptr<DeterministicQueue> queue = scheduler.makeQueue(LiveMixerEngine::queueLabel);
    std::shared_ptr<DeterministicQueue> listeners = scheduler.makeQueue("listeners");
    std::shared_ptr<FakeAudioHardware> hw = std::make_shared<FakeAudioHardware>(listeners);
    std::shared_ptr<FakeAudioProcessSource> processes =
        std::make_shared<FakeAudioProcessSource>(listeners);
    std::shared_ptr<FakeAppInfoProvider> appInfo = std::make_shared<FakeAppInfoProvider>();
    std::shared_ptr<FakeSystemAudioControl> control =
        std::make_shared<FakeSystemAudioControl>(listeners);
    std::shared_ptr<MemorySettingsStorage> storage = std::make_shared<MemorySettingsStorage>();
    std::shared_ptr<FakeProcessGrouper> grouper = std::make_shared<FakeProcessGrouper>();
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    std::shared_ptr<AppSettingsStore> store;
    std::shared_ptr<LiveMixerEngine> engine;
    int changes = 0;

    void SetUp() override {
        hw->addDevice({"speakers", "Speakers", DeviceTransport::builtIn, 2, true});
        hw->addDevice({"headphones", "Headphones", DeviceTransport::usb, 2, true});
        hw->setDefaultOutput("speakers");
        control->addDevice({"speakers", 1.0f, false, "", 1});
        control->addDevice({"headphones", 1.0f, false, "", 1});
        control->setSystemDefault("speakers");
        appInfo->setInfo(player, AppInfo{"Player", IconReference::theme("player-icon")});
        appInfo->setInfo(browser, AppInfo{"Browser", std::nullopt});
        scheduler.runPending();
    }

    void TearDown() override {
        if (engine) {
            engine->stop();
            scheduler.runPending();
            EXPECT_TRUE(hw->taps().empty()) << "stop ends every session";
        }
    }

    void startEngine() {
        store = std::make_shared<AppSettingsStore>(storage);
        engine = LiveMixerEngine::create(
            {hw, processes, appInfo, control, store, grouper, workspace, 1, {}, queue});
        engine->setOnChange([this] { ++changes; });
        engine->start();
        scheduler.runPending();
    }

    // A process that plays `level` through the audio system, reported by the process source.
    void play(pid_type pid, std::optional<std::string> bundleID, float level = 0.5f) {
        hw->addProcess(pid);
        hw->setProcessSignal(pid, level);
        processes->play(pid, std::move(bundleID));
    }
    void stopPlaying(pid_type pid) { processes->setRunning(pid, false); }

    void run(Seconds duration) {
        const Seconds end = scheduler.now() + duration;
        while (scheduler.now() + 1e-9 < end) {
            hw->renderCycle();
            scheduler.advance(std::min(0.05, end - scheduler.now()));
        }
        scheduler.runPending();
    }

    std::shared_ptr<TapSessionManager::Session> session(pid_type pid) {
        return engine->manager().session(pid);
    }
    std::optional<MixerRow> row(pid_type pid) {
        for (const MixerRow& r : engine->snapshot().rows) {
            if (r.pid == pid) {
                return r;
            }
        }
        return std::nullopt;
    }
    float renderedLevel(pid_type pid) {
        const auto s = session(pid);
        if (!s || !s->aggregate) {
            return -1.0f;
        }
        // The second cycle shows the gain the ramp has reached.
        hw->renderCycle();
        hw->renderCycle();
        return hw->lastOutputPeak(*s->aggregate);
    }
    std::optional<AppSetting> stored(const std::string& bundleID) {
        const auto text = storage->text();
        if (!text) {
            return std::nullopt;
        }
        const auto file = AppSettingsStore::File::decode(*text);
        if (!file || !file->apps.contains(bundleID)) {
            return std::nullopt;
        }
        return file->apps.at(bundleID);
    }
};

TEST_F(LiveMixerEngineTest, APlayingAppIsTappedConfirmedAndShownWithItsRow) {
    startEngine();
    play(300, player);
    run(1.0);
    ASSERT_TRUE(session(300));
    EXPECT_EQ(session(300)->state, TapSessionState::active());
    EXPECT_EQ(hw->ownRouteLevel(300), 0.0f) << "heard through its own gain stage only";

    const MixerSnapshot snapshot = engine->snapshot();
    ASSERT_EQ(snapshot.rows.size(), 1u);
    const MixerRow& r = snapshot.rows[0];
    EXPECT_EQ(r.name, "Player");
    EXPECT_EQ(r.bundleID, player);
    EXPECT_EQ(r.icon, "player-icon");
    EXPECT_EQ(r.volume, 1.0f);
    EXPECT_TRUE(r.isActive);
    EXPECT_EQ(r.status, MixerRowStatus::ok());
    ASSERT_EQ(snapshot.outputs.size(), 2u);
    EXPECT_EQ(snapshot.outputs[0].uid, "speakers") << "the default output first";
    ASSERT_TRUE(snapshot.master);
    EXPECT_EQ(snapshot.defaultOutputName, "Speakers");
    EXPECT_EQ(snapshot.permission, PermissionState::granted);
    EXPECT_GT(changes, 0);
}

// Levels: read only while wanted, 20 times a second, after the app's gain; none for an app that
// is not adjusted, silence for one whose stream stopped delivering.
TEST_F(LiveMixerEngineTest, LevelsAreReadOnlyWhileWantedAndFollowTheGain) {
    std::vector<MixerLevels> readings;
    startEngine();
    engine->setOnLevels([&readings](const MixerLevels& levels) { readings.push_back(levels); });
    play(300, player, 0.5f);
    play(400, browser, 0.0f); // silent: its tap never confirms, so it stays starting
    run(1.0);
    ASSERT_EQ(session(300)->state, TapSessionState::active());
    ASSERT_EQ(session(400)->state, TapSessionState::starting());
    EXPECT_TRUE(readings.empty()) << "nothing is read while no panel wants levels";
    EXPECT_FALSE(engine->isReadingLevels());

    engine->setLevelsWanted(true);
    run(0.5);
    // One reading at once, then one per 0.05 s.
    EXPECT_GE(readings.size(), 10u);
    EXPECT_LE(readings.size(), 12u);
    EXPECT_EQ(readings.back(), (MixerLevels{{300, 0.5f}})) << "the starting app has no level";

    engine->setVolume(300, 0.5f);
    run(0.2);
    EXPECT_NEAR(readings.back().at(300), 0.25f, 1e-6) << "after the gain";

    // The stream stops delivering (no more IO cycles): its last peak is not held.
    scheduler.advance(LiveMixerEngine::levelStaleAfter + 0.1);
    scheduler.runPending();
    EXPECT_EQ(readings.back().at(300), 0.0f);

    engine->setLevelsWanted(false);
    scheduler.runPending();
    const std::size_t count = readings.size();
    run(1.0);
    EXPECT_EQ(readings.size(), count) << "nothing is read once the panel hides";
    EXPECT_FALSE(engine->isReadingLevels());
    // ctl reads on demand, panel or not.
    EXPECT_NEAR(engine->levels().at(300), 0.25f, 1e-6);

    engine->setLevelsWanted(true);
    engine->stop();
    scheduler.runPending();
    EXPECT_FALSE(engine->isReadingLevels()) << "stop ends the readings";
}

TEST_F(LiveMixerEngineTest, AStoppedAppKeepsItsSessionUntilItsRowGoesAfterTheCoolDownOrADrag) {
    startEngine();
    play(300, player);
    play(400, browser);
    run(1.0);
    stopPlaying(300);
    scheduler.runPending();
    const Seconds stoppedAt = scheduler.now();
    ASSERT_TRUE(row(300));
    EXPECT_FALSE(row(300)->isActive);
    run(4.9);
    EXPECT_TRUE(session(300)) << "still listed, still tapped";

    run(stoppedAt + 6.1 - scheduler.now());
    EXPECT_FALSE(row(300));
    EXPECT_FALSE(session(300));
    EXPECT_EQ(hw->ownRouteLevel(300), 0.5f) << "back on its own route, untouched";
    EXPECT_EQ(engine->settings().bundleID(300), std::nullopt);

    // No row vanishes under the pointer, nor its session, until the drag ends.
    engine->beginInteraction(400);
    stopPlaying(400);
    run(8.0);
    EXPECT_TRUE(row(400) && session(400));
    engine->endInteraction();
    scheduler.runPending();
    EXPECT_FALSE(row(400) || session(400));
}

TEST_F(LiveMixerEngineTest, AHelperThatStartsPlayingGetsTheAppsRememberedSettings) {
    const std::string remembered =
        R"({"apps":{"org.example.Browser":{"isMuted":false,"outputDeviceUID":"headphones",)"
        R"("volume":0.4}},"version":1})";
    storage = std::make_shared<MemorySettingsStorage>(remembered);
    grouper->setGroup(500, ProcessGroup{browser, 500});
    grouper->setGroup(501, ProcessGroup{browser, 500});
    startEngine();

    play(500, browser);
    run(1.0);
    ASSERT_TRUE(session(500));
    EXPECT_EQ(session(500)->volume, 0.4f);
    EXPECT_EQ(session(500)->requestedOutputUID, "headphones");
    engine->setMuted(500, true);
    scheduler.runPending();
    EXPECT_EQ(stored(browser)->isMuted, true) << "a mute is written at once";

    play(501, std::nullopt); // a helper, folded into the browser by the grouper
    run(1.0);
    ASSERT_TRUE(session(501));
    EXPECT_EQ(session(501)->volume, 0.4f);
    EXPECT_TRUE(session(501)->muted);
    EXPECT_EQ(session(501)->requestedOutputUID, "headphones");

    const MixerSnapshot snapshot = engine->snapshot();
    ASSERT_EQ(snapshot.rows.size(), 1u);
    EXPECT_EQ(snapshot.rows[0].pid, 500);
    EXPECT_TRUE(snapshot.rows[0].isMuted);
    EXPECT_EQ(snapshot.rows[0].outputUID, "headphones");

    // A change to the row reaches both processes.
    engine->setVolume(500, 0.2f);
    scheduler.runPending();
    EXPECT_EQ(session(500)->volume, 0.2f);
    EXPECT_EQ(session(501)->volume, 0.2f);
}

TEST_F(LiveMixerEngineTest, FiftyQuickVolumeChangesWriteThreeTimesAndTheGainFollowsEach) {
    startEngine();
    play(600, player);
    run(1.0);
    ASSERT_EQ(session(600)->state, TapSessionState::active());
    const int savesBefore = storage->saves;

    float last = 1.0f;
    for (int i = 0; i < 50; ++i) {
        last = 0.9f - 0.015f * static_cast<float>(i);
        engine->setVolume(600, last);
        scheduler.runPending();
        EXPECT_NEAR(renderedLevel(600), 0.5f * last, 1e-6f) << "change " << i;
        if (i == 0) {
            EXPECT_EQ(storage->saves, savesBefore + 1) << "the first change is written at once";
        }
        if (i < 49) {
            scheduler.advance(0.01);
        }
    }
    EXPECT_EQ(storage->saves, savesBefore + 2) << "once more about 0.25 s into the drag";
    EXPECT_NE(stored(player)->volume, last);

    scheduler.advance(0.24);
    EXPECT_EQ(storage->saves, savesBefore + 2);
    scheduler.advance(0.02);
    EXPECT_EQ(storage->saves, savesBefore + 3) << "the last value, 0.25 s after the last change";
    EXPECT_EQ(stored(player)->volume, last);
    EXPECT_EQ(row(600)->volume, last);
}

TEST_F(LiveMixerEngineTest, VolumesSurviveAResetAndAppsWithoutSessionsChangeNothing) {
    startEngine();
    play(600, player);
    run(1.0);
    engine->setVolume(600, 0.3f);
    scheduler.runPending();
    const int saves = storage->saves;
    scheduler.advance(1.0);
    engine->setVolume(12345, 0.5f); // no such row, no session
    run(1.0);
    EXPECT_EQ(storage->saves, saves);

    // A reset restarts the session as it was and sweeps what a crashed run left.
    engine->setMuted(600, true);
    hw->injectTap("Brindell 77");
    engine->resetAudio();
    scheduler.runPending();
    ASSERT_TRUE(session(600));
    EXPECT_EQ(session(600)->volume, 0.3f);
    EXPECT_TRUE(session(600)->muted);
    EXPECT_EQ(hw->taps().size(), 1u);
}

TEST_F(LiveMixerEngineTest, StopWritesAPendingVolumeAndEndsEverything) {
    startEngine();
    play(600, player);
    run(1.0);
    engine->setVolume(600, 0.7f);
    scheduler.advance(0.05);
    engine->setVolume(600, 0.6f); // within 0.25 s: only marked dirty
    scheduler.runPending();
    EXPECT_EQ(stored(player)->volume, 0.7f);

    engine->stop();
    EXPECT_EQ(stored(player)->volume, 0.6f);
    EXPECT_TRUE(hw->taps().empty());
    EXPECT_TRUE(hw->aggregates().empty());
    EXPECT_EQ(hw->ownRouteLevel(600), 0.5f);
    EXPECT_EQ(workspace->wakeObserverCount(), 0u);

    // Final: nothing starts again.
    const int saves = storage->saves;
    play(700, browser);
    workspace->triggerWake();
    run(5.0);
    EXPECT_TRUE(hw->taps().empty());
    EXPECT_EQ(storage->saves, saves);
}

TEST_F(LiveMixerEngineTest, SilenceIsNoRefusalButARefusedOperationIs) {
    startEngine();
    // A sole app playing silence (muted inside its own stream) keeps its session and the
    // mixer keeps working.
    play(700, player, 0.0f);
    run(15.0);
    EXPECT_EQ(engine->snapshot().permission, PermissionState::unknown);
    ASSERT_TRUE(session(700));
    EXPECT_EQ(row(700)->status, MixerRowStatus::starting());

    // A failure that is no refusal changes nothing either.
    hw->fail(Op::createAggregate, -5, 1);
    play(701, browser);
    run(1.0);
    EXPECT_TRUE(engine->startErrors().contains(701));
    EXPECT_EQ(engine->snapshot().permission, PermissionState::unknown);

    // The audio system refuses an operation: every app plays untouched and rows say why.
    hw->fail(Op::createAggregate, -EACCES, 1);
    play(702, browser);
    run(1.0);
    EXPECT_EQ(engine->snapshot().permission, PermissionState::likelyDenied);
    EXPECT_FALSE(session(700)) << "every app plays untouched";
    EXPECT_TRUE(hw->taps().empty());
    EXPECT_EQ(row(700)->status, MixerRowStatus::needsPermission());
    play(703, browser);
    run(2.0);
    EXPECT_FALSE(session(703));
    EXPECT_EQ(row(703)->status, MixerRowStatus::needsPermission());

    // Check again: tapped afresh, and sound proves the permission.
    engine->recheckPermission();
    scheduler.runPending();
    EXPECT_EQ(engine->snapshot().permission, PermissionState::unknown);
    EXPECT_TRUE(session(700));
    EXPECT_TRUE(session(703));
    run(1.0);
    EXPECT_EQ(engine->snapshot().permission, PermissionState::granted);
    EXPECT_EQ(row(703)->status, MixerRowStatus::ok());

    // A running session whose rebuild is refused is a verdict too.
    hw->fail(Op::createTap, -EPERM);
    engine->setOutput(703, std::string("headphones"));
    run(1.0);
    EXPECT_EQ(engine->snapshot().permission, PermissionState::likelyDenied);
    EXPECT_FALSE(session(700));
    hw->clearFailures();
}

TEST_F(LiveMixerEngineTest, AStartRefusedRightAfterAWakeIsRetriedAndNoVerdictInTheGrace) {
    startEngine();
    play(800, player, 0.0f);
    run(1.0);
    hw->fail(Op::createTap, -EPERM, 1); // the audio system is not back yet
    workspace->triggerWake();
    scheduler.runPending();
    EXPECT_FALSE(session(800));
    EXPECT_EQ(row(800)->status.kind(), MixerRowStatus::Kind::captureFailed);
    run(3.1);
    ASSERT_TRUE(session(800)) << "retried once, 3 s after the wake";
    EXPECT_EQ(row(800)->status, MixerRowStatus::starting());
    run(6.8);
    EXPECT_EQ(engine->permission().state(), PermissionState::unknown);

    // After the grace, a refusal counts.
    hw->fail(Op::createTap, -EPERM, 1);
    engine->setOutput(800, std::string("headphones"));
    run(1.0);
    EXPECT_EQ(engine->permission().state(), PermissionState::likelyDenied);
    EXPECT_FALSE(session(800));
}

TEST_F(LiveMixerEngineTest, RowStatusesPreferAWorkingMemberAndExplainFailures) {
    grouper->setGroup(900, ProcessGroup{browser, 900});
    grouper->setGroup(901, ProcessGroup{browser, 900});
    startEngine();
    play(900, browser);
    run(1.0);

    play(901, std::nullopt);
    scheduler.runPending(); // started, still listening
    ASSERT_TRUE(session(901));
    hw->fail(Op::createTap, -7, 1); // its confirming rebuild is refused
    run(1.0);
    ASSERT_EQ(session(901)->state.kind(), Kind::failed);
    EXPECT_EQ(row(900)->status, MixerRowStatus::ok()) << "one member works";

    stopPlaying(900);
    run(0.1);
    EXPECT_EQ(row(900)->status.kind(), MixerRowStatus::Kind::captureFailed);
    EXPECT_FALSE(session(900));

    // A process gone before its tap could be made.
    processes->play(950, std::nullopt);
    run(0.1);
    EXPECT_EQ(row(950)->status.kind(), MixerRowStatus::Kind::captureFailed);
    EXPECT_TRUE(engine->startErrors().contains(950));
    run(2.0);
    EXPECT_TRUE(engine->startErrors().contains(950)) << "not retried while it stays listed";
}

TEST_F(LiveMixerEngineTest, ARememberedOutputThatIsGoneWaitsForItsReturn) {
    storage = std::make_shared<MemorySettingsStorage>(
        R"({"apps":{"org.example.Player":{"isMuted":false,"outputDeviceUID":"dock",)"
        R"("volume":0.25}},"version":1})");
    startEngine();
    play(300, player);
    run(1.0);
    EXPECT_EQ(row(300)->status, MixerRowStatus::waitingForDevice());
    EXPECT_EQ(row(300)->outputUID, "dock");
    EXPECT_EQ(hw->ownRouteLevel(300), 0.5f) << "plays on the default output meanwhile";

    hw->addDevice({"dock", "Dock", DeviceTransport::usb, 2, true});
    run(1.0);
    EXPECT_EQ(row(300)->status, MixerRowStatus::ok());
    EXPECT_EQ(session(300)->resolvedOutputUID, "dock");
    EXPECT_EQ(engine->snapshot().outputs.size(), 3u) << "the device change renewed the list";
}

TEST_F(LiveMixerEngineTest, AnOutputChosenInAnotherProgramIsShownAndNotRemembered) {
    startEngine();
    play(300, player);
    run(1.0);
    hw->setRoutedOutput(300, "headphones");
    run(1.0);
    EXPECT_EQ(row(300)->outputUID, "headphones");
    EXPECT_EQ(stored(player), std::nullopt);
    hw->setRoutedOutput(300, std::nullopt);
    run(1.0);
    EXPECT_EQ(row(300)->outputUID, std::nullopt);
}

TEST_F(LiveMixerEngineTest, MasterActionsGoToTheSystemOutput) {
    startEngine();
    engine->setMasterMuted(true);
    engine->setMasterVolume(0.25f);
    engine->setDefaultOutput("nowhere"); // not offered: dropped
    run(0.2);
    EXPECT_EQ(control->device("speakers")->muted, true);
    EXPECT_FLOAT_EQ(*control->device("speakers")->volume, 0.25f);
    EXPECT_FLOAT_EQ(*engine->snapshot().master->volume, 0.25f);

    engine->setDefaultOutput("headphones");
    run(0.2);
    EXPECT_EQ(control->systemDefault(), "headphones");
    EXPECT_EQ(engine->snapshot().defaultOutputName, "Headphones");
}

TEST_F(LiveMixerEngineTest, AStartThatTimedOutIsTriedAgainUntilItWorks) {
    startEngine();
    hw->fail(Op::createAggregate, -ETIMEDOUT, 2); // the session manager does not answer
    play(300, player);
    run(0.2);
    EXPECT_EQ(row(300)->status.kind(), MixerRowStatus::Kind::captureFailed);
    run(2 * LiveMixerEngine::startRetryDelay + 0.5);
    ASSERT_TRUE(session(300));
    EXPECT_EQ(row(300)->status.kind(), MixerRowStatus::Kind::ok);
    EXPECT_NE(engine->permission().state(), PermissionState::likelyDenied);
}

TEST_F(LiveMixerEngineTest, APanelCommandIsNotUndoneByAStateTheEnginePublishedBeforeIt) {
    startEngine();
    auto model = MixerViewModel::create(engine, scheduler.makeQueue("main"));
    play(300, player);
    run(1.0);
    ASSERT_EQ(model->rows->size(), 1u);

    // A state published before a panel command does not undo it on the panel.
    model->setVolume(300, 0.4f);
    model->refresh();
    EXPECT_FLOAT_EQ(model->rows->front().volume, 0.4f);
    run(0.2);
    EXPECT_FLOAT_EQ(session(300)->volume, 0.4f);
    EXPECT_FLOAT_EQ(model->rows->front().volume, 0.4f);
}

} // namespace
} // namespace brindell
