#include "tapengine/TapSessionManager.h"

#include "audio/fake/FakeAudioHardware.h"
#include "queue/DeterministicQueue.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <utility>

namespace brindell {
namespace {

using Op = FakeAudioHardware::Op;
using Kind = TapSessionState::Kind;
using StartError = TapSessionManager::StartError;
using Event = TapSessionEvent;
using State = TapSessionState;

constexpr pid_type app = 412;
constexpr pid_type other = 413;

std::string statusText(const char* operation, std::int32_t code) {
    return AudioHardwareError::status(operation, code).text();
}

class TapSessionManagerTest : public ::testing::Test {
protected:
    DeterministicScheduler scheduler;
    std::shared_ptr<DeterministicQueue> listeners = scheduler.makeQueue("listeners");
    std::shared_ptr<DeterministicQueue> queue = scheduler.makeQueue("mixer");
    std::shared_ptr<FakeAudioHardware> hw = std::make_shared<FakeAudioHardware>(listeners);
    std::shared_ptr<TapSessionManager> manager;
    std::vector<Event> events;

    void SetUp() override {
        hw->addDevice({"speakers", "Speakers", DeviceTransport::builtIn, 2, true});
        hw->addDevice({"headphones", "Headphones", DeviceTransport::usb, 2, true});
        hw->setDefaultOutput("speakers");
        for (pid_type pid = app; pid < app + 4; ++pid) {
            hw->addProcess(pid);
        }
        scheduler.runPending();
        manager = std::make_shared<TapSessionManager>("Brindell", "com.quorvel.", hw);
        manager->setOnEvent([this](const Event& e) { events.push_back(e); });
    }

    void TearDown() override {
        if (manager) {
            manager->stopPolling();
        }
    }

    std::vector<Event> takeEvents() { return std::exchange(events, {}); }

    TapSessionManager::Session& session(pid_type pid = app) {
        auto found = manager->session(pid);
        if (!found) {
            throw std::runtime_error("no session for " + std::to_string(pid));
        }
        return *found;
    }
    TapIOState::Memory& io(pid_type pid = app) { return *session(pid).ioState->memory(); }

    // Starts a session whose tap has delivered sound and lets one poll confirm it.
    void activate(pid_type pid, std::optional<std::string> output = std::nullopt) {
        manager->start(pid, output);
        hw->setProcessSignal(pid, 0.5f);
        hw->renderCycle();
        manager->poll();
        ASSERT_EQ(session(pid).state, State::active());
        events.clear();
    }

    std::optional<StartError> startError(pid_type pid, std::optional<std::string> output) {
        try {
            manager->start(pid, output);
        } catch (const StartError& e) {
            return e;
        }
        return std::nullopt;
    }

    void expectNothingLeft() {
        EXPECT_TRUE(hw->taps().empty());
        EXPECT_TRUE(hw->aggregates().empty());
        EXPECT_TRUE(hw->runningIO().empty());
    }
};

TEST_F(TapSessionManagerTest, StartBuildsAnUnmutedListeningChainNamedForThePid) {
    manager->start(app, std::nullopt);
    EXPECT_EQ(takeEvents(), std::vector{Event::stateChanged(app, State::starting())});

    const auto taps = hw->taps();
    const auto aggregates = hw->aggregates();
    ASSERT_EQ(taps.size(), 1u);
    ASSERT_EQ(aggregates.size(), 1u);
    EXPECT_EQ(taps[0].name, "Brindell 412");
    EXPECT_FALSE(taps[0].muted);
    const AggregateSpec& request = aggregates[0].request;
    EXPECT_TRUE(request.uid.starts_with("com.quorvel.Brindell.agg.")) << "what the sweep finds";
    EXPECT_EQ(request.name, "Brindell 412");
    EXPECT_EQ(request.outputDeviceUID, "speakers");
    EXPECT_EQ(request.tapUID, taps[0].uid);
    ASSERT_EQ(hw->runningIO().size(), 1u);

    // The tap only listens: the app plays on its own route, the chain's output stays silent.
    hw->setProcessSignal(app, 0.5f);
    hw->renderCycle();
    EXPECT_EQ(hw->ownRouteLevel(app), 0.5f);
    EXPECT_EQ(hw->lastOutputPeak(aggregates[0].objectID), 0.0f);
    EXPECT_EQ(manager->snapshots(),
              (std::vector{SessionSnapshot{app, State::starting(), "speakers", 1, 1, 0.5f}}));
}

TEST_F(TapSessionManagerTest, StartRefusesWithoutLeavingAnythingBehindOrForTheSweep) {
    EXPECT_EQ(startError(999, std::nullopt), StartError::processNotFound());
    hw->setDeviceAlive("headphones", false);
    EXPECT_EQ(startError(app, "headphones"), StartError::deviceUnavailable());
    hw->fail(Op::defaultOutputDevice, -7, 1);
    EXPECT_EQ(startError(app, std::nullopt),
              StartError::hardware(AudioHardwareError::status("DefaultOutputDevice", -7)));

    for (const Op op :
         {Op::createTap, Op::readTapUID, Op::createAggregate, Op::createIOProc, Op::startDevice}) {
        SCOPED_TRACE(FakeAudioHardware::operationName(op));
        hw->fail(op, -5, 1);
        EXPECT_EQ(startError(app, std::nullopt), StartError::hardware(AudioHardwareError::status(
                                                     FakeAudioHardware::operationName(op), -5)));
        expectNothingLeft();
    }
    hw->setDefaultOutput(std::nullopt);
    EXPECT_EQ(startError(app, std::nullopt),
              StartError::hardware(AudioHardwareError::noSuchObject()));

    EXPECT_TRUE(manager->sessions().empty());
    EXPECT_TRUE(events.empty());

    // A failed build whose cleanup fails reports both, and the sweep finishes it.
    hw->setDefaultOutput("speakers");
    hw->fail(Op::createAggregate, -5, 1);
    hw->fail(Op::destroyTap, -6, 1);
    EXPECT_EQ(startError(app, std::nullopt),
              StartError::hardware(AudioHardwareError::status("CreateAggregateDevice", -5)));
    EXPECT_EQ(takeEvents(), std::vector{Event::warning(
                                app, "destroyTap failed: " + statusText("DestroyProcessTap", -6))});
    EXPECT_TRUE(manager->sessions().empty());
    EXPECT_EQ(manager->sweep(), (TapSessionManager::Removed{1, 0}));
    expectNothingLeft();
}

TEST_F(TapSessionManagerTest, StartThrowsForEveryLiveStateAndReplacesAFailedSession) {
    manager->start(app, std::nullopt);
    EXPECT_EQ(startError(app, std::nullopt), StartError::alreadyRunning()); // starting
    manager->stop(app);
    activate(app);
    EXPECT_EQ(startError(app, std::nullopt), StartError::alreadyRunning()); // active
    manager->setOutput(app, "nowhere");
    EXPECT_EQ(startError(app, std::nullopt), StartError::alreadyRunning()); // waitingForDevice

    hw->fail(Op::createTap, -3, 1);
    manager->setOutput(app, "headphones");
    ASSERT_EQ(session().state.kind(), Kind::failed);
    EXPECT_FALSE(manager->setOutput(app, "speakers")) << "a failed session is not rebuilt";
    const auto failed = manager->session(app);
    takeEvents();
    manager->start(app, std::nullopt);
    EXPECT_EQ(takeEvents(), std::vector{Event::stateChanged(app, State::starting())});
    EXPECT_NE(manager->session(app), failed);
    EXPECT_EQ(session().failure, std::nullopt);
    EXPECT_EQ(hw->taps().size(), 1u);
}

TEST_F(TapSessionManagerTest, TheFirstSoundConfirmsWithAMutingRebuildOnAFreshState) {
    manager->start(app, std::nullopt);
    manager->setVolume(app, 0.5f);
    const std::string firstUID = hw->aggregates()[0].request.uid;
    hw->setProcessSignal(app, 0.8f);
    manager->poll(); // no buffer yet
    EXPECT_EQ(manager->confirmations(), 0);

    hw->renderCycle();
    takeEvents();
    hw->clearCalls();
    manager->poll();
    EXPECT_EQ(manager->confirmations(), 1);
    EXPECT_EQ(takeEvents(), std::vector{Event::stateChanged(app, State::active())});
    EXPECT_EQ(
        hw->calls(),
        (std::vector{Op::processObject, Op::defaultOutputDevice, Op::readDefaultUID, Op::stopDevice,
                     Op::destroyIOProc, Op::destroyAggregate, Op::destroyTap, Op::createTap,
                     Op::readTapUID, Op::createAggregate, Op::createIOProc, Op::startDevice}));
    ASSERT_EQ(hw->taps().size(), 1u);
    EXPECT_TRUE(hw->taps()[0].muted);
    const auto aggregate = hw->aggregates().at(0);
    EXPECT_NE(aggregate.request.uid, firstUID);
    EXPECT_EQ(io().passthrough, 1);
    EXPECT_EQ(io().buffers, 0);
    EXPECT_EQ(io().gain, 0.5f);
    EXPECT_EQ(io().applied, 0.5f);

    hw->renderCycle();
    EXPECT_EQ(hw->ownRouteLevel(app), 0.0f);
    EXPECT_FLOAT_EQ(hw->lastOutputPeak(aggregate.objectID), 0.4f);
    manager->poll();
    EXPECT_EQ(manager->confirmations(), 1);
    EXPECT_TRUE(events.empty());
}

TEST_F(TapSessionManagerTest, AFailedConfirmationFailsTheSessionAndLeavesTheAppAudible) {
    manager->start(app, std::nullopt);
    hw->setProcessSignal(app, 0.5f);
    hw->renderCycle();
    hw->fail(Op::createAggregate, -5, 1);
    takeEvents();
    manager->poll();

    const std::string message = "muting rebuild failed: " + statusText("CreateAggregateDevice", -5);
    EXPECT_EQ(manager->confirmations(), 1);
    EXPECT_EQ(takeEvents(), (std::vector{Event::stateChanged(app, State::failed(message)),
                                         Event::warning(app, message)}));
    EXPECT_EQ(session().failure, AudioHardwareError::status("CreateAggregateDevice", -5));
    EXPECT_EQ(hw->ownRouteLevel(app), 0.5f);
    expectNothingLeft();

    hw->clearCalls();
    manager->poll(); // a failed session only has its process checked
    EXPECT_EQ(hw->calls(), std::vector{Op::processObject});
    EXPECT_TRUE(events.empty());
}

TEST_F(TapSessionManagerTest, ASessionFollowingTheDefaultWaitsForADeviceAndMovesWithTheDefault) {
    activate(app);
    hw->removeDevice("speakers"); // the default still names it
    manager->poll();
    EXPECT_EQ(takeEvents(), std::vector{Event::stateChanged(app, State::waitingForDevice())});
    expectNothingLeft();
    EXPECT_EQ(hw->ownRouteLevel(app), 0.5f);
    manager->poll();
    EXPECT_TRUE(events.empty());

    hw->setDefaultOutput("headphones");
    manager->poll();
    EXPECT_EQ(takeEvents(), std::vector{Event::stateChanged(app, State::starting())});
    EXPECT_EQ(hw->aggregates().at(0).request.outputDeviceUID, "headphones");
    hw->renderCycle();
    manager->poll();
    EXPECT_EQ(takeEvents(), std::vector{Event::stateChanged(app, State::active())});

    // The default moves while active: rebuilt there, listening until sound confirms it again.
    hw->addDevice({"speakers", "Speakers", DeviceTransport::builtIn, 2, true});
    hw->setDefaultOutput("speakers");
    manager->poll();
    EXPECT_EQ(takeEvents(), std::vector{Event::stateChanged(app, State::starting())});
    EXPECT_EQ(session().resolvedOutputUID, "speakers");
    EXPECT_FALSE(hw->taps().at(0).muted);
    hw->setDefaultOutput("headphones");
    manager->poll();
    takeEvents();

    // A default that cannot be read, or that is not alive, is not followed.
    hw->fail(Op::defaultOutputDevice);
    manager->poll();
    hw->clearFailures();
    hw->setDefaultOutput("speakers");
    hw->setDeviceAlive("speakers", false);
    manager->poll();
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(session().resolvedOutputUID, "headphones");
}

TEST_F(TapSessionManagerTest, ASessionFollowingTheDefaultPlaysWhereAnotherProgramRoutedTheApp) {
    hw->setRoutedOutput(app, "headphones");
    activate(app);
    EXPECT_EQ(hw->aggregates().at(0).request.outputDeviceUID, "headphones");
    EXPECT_EQ(session().routedOutputUID, "headphones");

    // Moved back elsewhere while adjusted: followed; the default then rules again.
    hw->setRoutedOutput(app, "speakers");
    manager->poll();
    EXPECT_EQ(takeEvents(), std::vector{Event::stateChanged(app, State::starting())});
    EXPECT_EQ(hw->aggregates().at(0).request.outputDeviceUID, "speakers");
    hw->setRoutedOutput(app, std::nullopt);
    hw->setDefaultOutput("headphones");
    manager->poll();
    EXPECT_EQ(hw->aggregates().at(0).request.outputDeviceUID, "headphones");
    EXPECT_EQ(session().routedOutputUID, std::nullopt);

    // A routed device that is gone plays on the default, as the app itself would.
    hw->setRoutedOutput(app, "speakers");
    hw->setDeviceAlive("speakers", false);
    manager->poll();
    EXPECT_EQ(session().resolvedOutputUID, "headphones");
    EXPECT_EQ(session().routedOutputUID, std::nullopt);

    // An output chosen here wins over any routing.
    hw->setDeviceAlive("speakers", true);
    ASSERT_TRUE(manager->setOutput(app, "headphones"));
    manager->poll();
    EXPECT_EQ(session().resolvedOutputUID, "headphones");
    EXPECT_EQ(session().routedOutputUID, std::nullopt);
    ASSERT_TRUE(manager->setOutput(app, std::nullopt));
    EXPECT_EQ(session().resolvedOutputUID, "speakers");
}

TEST_F(TapSessionManagerTest, AnExplicitOutputIsWaitedForAndNeverSwappedForTheDefault) {
    activate(app, "headphones");
    hw->setDefaultOutput("speakers");
    manager->poll();
    EXPECT_TRUE(events.empty());

    hw->setDeviceAlive("headphones", false);
    manager->poll();
    EXPECT_EQ(takeEvents(), std::vector{Event::stateChanged(app, State::waitingForDevice())});
    hw->removeDevice("headphones");
    manager->poll();
    EXPECT_TRUE(events.empty());

    // Back, but its first rebuild fails: the retry nine polls later works and clears the count.
    hw->addDevice({"headphones", "Headphones", DeviceTransport::usb, 2, true});
    hw->fail(Op::startDevice, -4, 1);
    manager->poll();
    EXPECT_EQ(session().rebuildFailures, 1);
    takeEvents();
    for (int i = 0; i < 9; ++i) {
        manager->poll();
    }
    EXPECT_EQ(takeEvents(), std::vector{Event::stateChanged(app, State::starting())});
    EXPECT_EQ(session().rebuildFailures, 0);
    EXPECT_EQ(session().requestedOutputUID, "headphones");
    EXPECT_EQ(hw->aggregates().at(0).request.outputDeviceUID, "headphones");

    hw->setDeviceAlive("headphones", false); // lost again while still starting
    manager->poll();
    EXPECT_EQ(takeEvents(), std::vector{Event::stateChanged(app, State::waitingForDevice())});
    expectNothingLeft();
}

TEST_F(TapSessionManagerTest, ReturnRebuildsRetryOnEveryNinthPollAndGiveUpAfterEight) {
    activate(app);
    hw->removeDevice("speakers");
    manager->poll();
    hw->fail(Op::createAggregate, -9);
    hw->setDefaultOutput("headphones");
    takeEvents();
    manager->poll();
    const std::string error = statusText("CreateAggregateDevice", -9);
    EXPECT_EQ(takeEvents(), std::vector{Event::warning(
                                app, "rebuild after device return failed, retrying: " + error)});
    EXPECT_EQ(session().state, State::waitingForDevice());
    EXPECT_EQ(session().rebuildFailures, 1);
    EXPECT_EQ(session().pollsUntilRetry, 8);
    expectNothingLeft();

    // The countdown does not run while the device is gone.
    hw->setDeviceAlive("headphones", false);
    for (int i = 0; i < 20; ++i) {
        manager->poll();
    }
    EXPECT_EQ(session().pollsUntilRetry, 8);
    hw->setDeviceAlive("headphones", true);

    std::vector<int> attempts;
    for (int polls = 1; polls <= 100 && session().state.kind() != Kind::failed; ++polls) {
        const auto before = hw->callCount(Op::createAggregate);
        manager->poll();
        if (hw->callCount(Op::createAggregate) > before) {
            attempts.push_back(polls);
        }
    }
    EXPECT_EQ(attempts, (std::vector{9, 18, 27, 36, 45, 54, 63}));
    const std::string message = "rebuild after device return failed 8 times: " + error;
    const auto tail = takeEvents();
    ASSERT_GE(tail.size(), 2u);
    EXPECT_EQ(tail[tail.size() - 2], Event::stateChanged(app, State::failed(message)));
    EXPECT_EQ(tail.back(), Event::warning(app, message));
    EXPECT_EQ(session().failure, AudioHardwareError::status("CreateAggregateDevice", -9));
}

TEST_F(TapSessionManagerTest, SetOutputRebuildsOnlyForAChangeAndAlwaysAppliesWhileWaiting) {
    EXPECT_FALSE(manager->setOutput(999, "headphones"));
    activate(app);
    hw->clearCalls();
    EXPECT_TRUE(manager->setOutput(app, std::nullopt)); // the default it already follows
    EXPECT_EQ(hw->callCount(Op::createTap), 0u);
    EXPECT_TRUE(events.empty());

    EXPECT_TRUE(manager->setOutput(app, "speakers")); // same device, now chosen explicitly
    EXPECT_EQ(takeEvents(), std::vector{Event::stateChanged(app, State::starting())});
    EXPECT_EQ(session().requestedOutputUID, "speakers");
    EXPECT_TRUE(manager->setOutput(app, "headphones"));
    EXPECT_EQ(takeEvents(), std::vector{Event::stateChanged(app, State::starting())});
    EXPECT_EQ(hw->aggregates().at(0).request.outputDeviceUID, "headphones");

    EXPECT_TRUE(manager->setOutput(app, "usb-dac"));
    EXPECT_TRUE(manager->setOutput(app, "usb-dac"));
    EXPECT_EQ(takeEvents(), (std::vector{Event::stateChanged(app, State::waitingForDevice()),
                                         Event::stateChanged(app, State::waitingForDevice())}));
    expectNothingLeft();

    // Back to the default while it cannot be read: the session keeps its resolved device and
    // waits, and follows the default once it can be read.
    hw->fail(Op::defaultOutputDevice, -1, 1);
    EXPECT_TRUE(manager->setOutput(app, std::nullopt));
    EXPECT_EQ(session().resolvedOutputUID, "usb-dac");
    EXPECT_EQ(session().requestedOutputUID, std::nullopt);
    manager->poll();
    EXPECT_EQ(session().state, State::starting());
    EXPECT_EQ(session().resolvedOutputUID, "speakers");
}

TEST_F(TapSessionManagerTest, VolumeAndMuteAreCleanedAppliedWithoutRebuildAndSurviveOne) {
    EXPECT_FALSE(manager->setVolume(999, 0.5f));
    manager->setMuted(999, true);
    EXPECT_EQ(manager->volume(999), std::nullopt);
    EXPECT_EQ(manager->muted(999), std::nullopt);
    EXPECT_EQ(manager->state(999), std::nullopt);

    activate(app);
    hw->clearCalls();
    for (const float given : {3.0f, 0.25f, std::nanf("")}) { // NaN keeps the volume in force
        EXPECT_TRUE(manager->setVolume(app, given));
    }
    EXPECT_EQ(manager->volume(app), 0.25f);
    EXPECT_EQ(io().gain, 0.25f);
    manager->setMuted(app, true);
    EXPECT_EQ(manager->muted(app), true);
    EXPECT_EQ(io().muted, 1);
    EXPECT_TRUE(hw->calls().empty());
    EXPECT_TRUE(events.empty());

    manager->setOutput(app, "headphones");
    EXPECT_EQ(io().gain, 0.25f);
    EXPECT_EQ(io().muted, 1);
    EXPECT_EQ(io().applied, 0.0f);
}

TEST_F(TapSessionManagerTest, AnExitedProcessEndsItsSessionInEveryState) {
    manager->start(app, std::nullopt); // starting
    activate(app + 1);
    manager->start(app + 2, std::nullopt);
    manager->setOutput(app + 2, "usb-dac"); // waitingForDevice
    manager->start(app + 3, std::nullopt);
    hw->fail(Op::createTap, -1, 1);
    manager->setOutput(app + 3, "headphones"); // failed
    takeEvents();

    hw->removeProcess(app);
    hw->removeProcess(app + 1);
    hw->addProcess(app + 1); // the pid now belongs to another process object
    hw->removeProcess(app + 2);
    hw->removeProcess(app + 3);
    manager->poll();
    const State exited = State::ended(EndReason::processExited);
    EXPECT_EQ(
        takeEvents(),
        (std::vector{Event::stateChanged(app, exited), Event::stateChanged(app + 1, exited),
                     Event::stateChanged(app + 2, exited), Event::stateChanged(app + 3, exited)}));
    EXPECT_TRUE(manager->sessions().empty());
    expectNothingLeft();

    // A process object that cannot be read counts as gone, too.
    manager->start(app + 1, std::nullopt);
    hw->fail(Op::processObject, -1, 1);
    manager->poll();
    EXPECT_EQ(manager->state(app + 1), std::nullopt);
}

TEST_F(TapSessionManagerTest, StopTearsDownInReverseOrderAndGoesOnPastEveryFailure) {
    activate(app);
    const auto held = manager->session(app);
    hw->clearCalls();
    hw->fail(Op::stopDevice, -1, 1);
    hw->fail(Op::destroyAggregate, -2, 1);
    hw->fail(Op::destroyTap, -3, 1);
    manager->stop(app);
    EXPECT_EQ(hw->calls(), (std::vector{Op::stopDevice, Op::destroyIOProc, Op::destroyAggregate,
                                        Op::destroyTap}));
    const auto stopEvents = takeEvents();
    ASSERT_EQ(stopEvents.size(), 4u) << "a warning per failed step, then the end";
    EXPECT_EQ(stopEvents.back(), Event::stateChanged(app, State::ended(EndReason::stopped)));
    EXPECT_FALSE(held->io || held->aggregate || held->tap);
    EXPECT_TRUE(manager->sessions().empty());

    manager->stop(999);
    EXPECT_TRUE(events.empty());
    manager->start(app, std::nullopt);
    manager->start(other, "headphones");
    hw->fail(Op::createTap, -1, 1);
    manager->setOutput(other, "speakers"); // a failed session is stopped, too
    takeEvents();
    manager->stopAll();
    const State stopped = State::ended(EndReason::stopped);
    EXPECT_EQ(takeEvents(), (std::vector{Event::stateChanged(app, stopped),
                                         Event::stateChanged(other, stopped)}));
    EXPECT_TRUE(manager->sessions().empty());
    EXPECT_EQ(hw->runningIO().size(), 0u);
    EXPECT_EQ(hw->aggregates().size(), 1u); // the one whose destroy failed above
}

TEST_F(TapSessionManagerTest, TheIOStateOutlivesABlockThePlatformKeepsCallingAfterAFailedStop) {
    activate(app);
    std::weak_ptr<TapIOState> stoppedState = session().ioState;
    manager->stop(app);
    EXPECT_TRUE(stoppedState.expired()) << "a stopped block releases its state";

    activate(app);
    std::weak_ptr<TapIOState> confirmedState = session().ioState;
    // A failed stop during a rebuild: the block of the replaced state keeps running.
    hw->fail(Op::stopDevice, -1, 1);
    manager->setOutput(app, "headphones");
    std::weak_ptr<TapIOState> rebuiltState = session().ioState;
    // And one during the final stop, after which the manager itself goes.
    hw->fail(Op::stopDevice, -1, 1);
    manager->stop(app);
    manager.reset();

    EXPECT_EQ(hw->strayIOCount(), 2u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(hw->renderCycle(), 2u);
    }
    const auto confirmed = confirmedState.lock();
    const auto rebuilt = rebuiltState.lock();
    ASSERT_TRUE(confirmed && rebuilt);
    EXPECT_EQ(confirmed->memory()->buffers, 3);
    EXPECT_EQ(rebuilt->memory()->buffers, 3);
}

TEST_F(TapSessionManagerTest, DestroyingTheManagerStopsPollingAndTearsDownQuietly) {
    manager->startPolling(0.25, queue);
    activate(app);
    manager->start(other, std::nullopt);
    scheduler.runPending();
    takeEvents();
    manager.reset();
    expectNothingLeft();
    EXPECT_FALSE(hw->onDeviceChange());
    scheduler.advance(2.0);
    EXPECT_TRUE(events.empty());
}

TEST_F(TapSessionManagerTest, TheSweepRemovesLeftoversAndKeepsLiveObjects) {
    activate(app);
    const auto liveTap = session().tap->objectID;
    const auto liveAggregate = *session().aggregate;
    hw->injectTap("Brindell 77");
    hw->injectTap("Brindell 78");
    const auto foreignTap = hw->injectTap("Other 5");
    hw->injectAggregate("com.quorvel.Brindell.agg.OLD", "Brindell 77");
    const auto foreignName = hw->injectAggregate("com.quorvel.Brindell.agg.X", "Someone 1");
    const auto foreignUID = hw->injectAggregate("org.example.agg", "Brindell 9");

    EXPECT_EQ(manager->sweep(), (TapSessionManager::Removed{2, 1}));
    EXPECT_EQ(takeEvents(),
              std::vector{Event::warning(std::nullopt, "sweep removed 2 taps and 1 devices")});
    std::set<AudioObjectID> kept;
    for (const auto& t : hw->taps()) {
        kept.insert(t.objectID);
    }
    for (const auto& a : hw->aggregates()) {
        kept.insert(a.objectID);
    }
    EXPECT_EQ(kept, (std::set{liveTap, liveAggregate, foreignTap, foreignName, foreignUID}));
    EXPECT_EQ(hw->runningIO().size(), 1u);
    EXPECT_EQ(manager->sweep(), (TapSessionManager::Removed{0, 0}));
    EXPECT_TRUE(events.empty());

    // Lists that cannot be read count as empty.
    hw->injectTap("Brindell 80");
    hw->injectAggregate("com.quorvel.Brindell.agg.Z", "Brindell 80");
    hw->fail(Op::tapList, -1, 1);
    hw->fail(Op::deviceListSize, -1, 1);
    EXPECT_EQ(manager->sweep(), (TapSessionManager::Removed{0, 0}));
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(manager->sweep(), (TapSessionManager::Removed{1, 1}));
}

TEST_F(TapSessionManagerTest, ResetRestartsLiveSessionsOnTheirOutputsWithTheirLevels) {
    activate(app, "headphones");
    manager->setVolume(app, 0.3f);
    manager->setMuted(app, true);
    manager->start(other, std::nullopt);
    manager->start(app + 2, std::nullopt);
    hw->fail(Op::createTap, -1, 1);
    manager->setOutput(app + 2, "speakers"); // failed: not restarted
    manager->start(app + 3, std::nullopt);
    manager->setOutput(app + 3, "usb-dac"); // waiting for a device that is not there
    hw->injectTap("Brindell 1");
    takeEvents();

    EXPECT_EQ(manager->reset(), (TapSessionManager::Removed{1, 0}));
    const State stopped = State::ended(EndReason::stopped);
    EXPECT_EQ(
        takeEvents(),
        (std::vector{Event::stateChanged(app, stopped), Event::stateChanged(other, stopped),
                     Event::stateChanged(app + 2, stopped), Event::stateChanged(app + 3, stopped),
                     Event::warning(std::nullopt, "sweep removed 1 taps and 0 devices"),
                     Event::stateChanged(app, State::starting()),
                     Event::stateChanged(other, State::starting()),
                     Event::warning(app + 3, "reset: restarting failed: deviceUnavailable")}));
    EXPECT_EQ(session(app).requestedOutputUID, "headphones");
    EXPECT_EQ(io(app).gain, 0.3f);
    EXPECT_EQ(io(app).muted, 1);
    EXPECT_EQ(manager->sessions().size(), 2u);
    EXPECT_EQ(hw->taps().size(), 2u);
}

TEST_F(TapSessionManagerTest,
       PollingRunsEveryIntervalAndAfterEveryDeviceChangeAndRefusesBadArguments) {
    manager->startPolling(0.25, queue);
    manager->startPolling(0.25, queue); // replaces, does not add
    EXPECT_EQ(scheduler.timedCount(), 1u);
    manager->start(app, std::nullopt);
    scheduler.runPending(); // the new aggregate is a device change: it polls at once
    hw->setProcessSignal(app, 0.5f);
    hw->renderCycle();
    scheduler.advance(0.2);
    EXPECT_EQ(session().state, State::starting());
    scheduler.advance(0.05);
    EXPECT_EQ(session().state, State::active());

    takeEvents();
    hw->removeDevice("speakers"); // no time passes: the hop polls
    scheduler.runPending();
    // The teardown's destroyed aggregate is a device change of its own.
    EXPECT_EQ(takeEvents(), (std::vector{Event::devicesChanged(),
                                         Event::stateChanged(app, State::waitingForDevice()),
                                         Event::devicesChanged()}));

    // A hop already on its way when polling stops does nothing.
    hw->setDefaultOutput("headphones");
    manager->stopPolling();
    scheduler.runPending();
    EXPECT_FALSE(manager->isPolling());
    EXPECT_FALSE(hw->onDeviceChange());
    scheduler.advance(5.0);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(session().state, State::waitingForDevice());

    // Bad arguments are refused.
    for (const Seconds interval :
         {0.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
        EXPECT_THROW(manager->startPolling(interval, queue), std::invalid_argument);
    }
    EXPECT_THROW(manager->startPolling(0.25, nullptr), std::invalid_argument);
    EXPECT_EQ(scheduler.timedCount(), 0u);
}

} // namespace
} // namespace brindell
