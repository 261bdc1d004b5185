#include "audio/fake/FakeAudioHardware.h"

#include "queue/DeterministicQueue.h"
#include "tapengine/RenderCallback.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

using Op = FakeAudioHardware::Op;

class FakeAudioHardwareTest : public ::testing::Test {
protected:
    DeterministicScheduler scheduler;
    std::shared_ptr<DeterministicQueue> listeners = scheduler.makeQueue("listeners");
    FakeAudioHardware hw{listeners};

    void SetUp() override {
        hw.addDevice({"speakers", "Speakers", DeviceTransport::builtIn, 2, true});
        hw.addDevice({"mic", "Microphone", DeviceTransport::usb, 0, true});
        hw.setDefaultOutput("speakers");
        scheduler.runPending();
    }

    // A full chain for pid 42; returns (tap, aggregate).
    std::pair<TapHandle, AudioObjectID> chain(bool muted) {
        const AudioObjectID process = hw.addProcess(42);
        TapHandle tap = hw.createTap(process, "Brindell 42", muted);
        const AudioObjectID aggregate =
            hw.createAggregate({"com.quorvel.Brindell.agg.X", "Brindell 42", "speakers", tap.uid});
        return {tap, aggregate};
    }
};

TEST_F(FakeAudioHardwareTest, TokensStartAtOneAndAFailedStartUsesNone) {
    auto [tap, aggregate] = chain(false);
    IOBlock nothing = [](auto&, auto&, auto&, auto&, auto&) {};
    EXPECT_EQ(hw.startIO(aggregate, nothing).token, 1u);
    hw.fail(Op::startDevice, -5, 1);
    EXPECT_THROW(hw.startIO(aggregate, nothing), AudioHardwareError);
    EXPECT_EQ(hw.startIO(aggregate, nothing).token, 2u);
    EXPECT_EQ(hw.runningIO().size(), 2u);
}

TEST_F(FakeAudioHardwareTest, StopIOOfAnUnknownTokenMakesNoPlatformCall) {
    auto [tap, aggregate] = chain(false);
    const IOHandle io = hw.startIO(aggregate, [](auto&, auto&, auto&, auto&, auto&) {});
    hw.stopIO(io);
    hw.clearCalls();
    try {
        hw.stopIO(io);
        FAIL() << "expected noSuchObject";
    } catch (const AudioHardwareError& e) {
        EXPECT_EQ(e, AudioHardwareError::noSuchObject());
    }
    EXPECT_TRUE(hw.calls().empty());
}

TEST_F(FakeAudioHardwareTest, StopFailureIsReportedBeforeDestroyFailureAndTheBlockMayRunOn) {
    auto [tap, aggregate] = chain(false);
    TapIOState state(1.0f, false);
    const IOHandle io = hw.startIO(aggregate, makeTapIOBlock(state.memory()));
    hw.fail(Op::stopDevice, -11);
    hw.fail(Op::destroyIOProc, -12);
    try {
        hw.stopIO(io);
        FAIL() << "expected a status error";
    } catch (const AudioHardwareError& e) {
        EXPECT_EQ(e, AudioHardwareError::status("AudioDeviceStop", -11));
    }
    EXPECT_EQ(hw.callCount(Op::destroyIOProc), 1u); // both calls are always made
    EXPECT_TRUE(hw.runningIO().empty());
    EXPECT_EQ(hw.strayIOCount(), 1u);
    EXPECT_EQ(hw.renderCycle(), 1u);
    EXPECT_EQ(state.memory()->buffers, 1);
}

TEST_F(FakeAudioHardwareTest, TapWhoseUIDCannotBeReadLeavesNothing) {
    const AudioObjectID process = hw.addProcess(7);
    hw.fail(Op::readTapUID, -1, 1);
    try {
        hw.createTap(process, "Brindell 7", true);
        FAIL();
    } catch (const AudioHardwareError& e) {
        EXPECT_EQ(e, AudioHardwareError::status("string property", -1));
    }
    EXPECT_TRUE(hw.taps().empty());
    EXPECT_EQ(hw.ownRouteLevel(7), 0.0f); // no signal set yet
}

TEST_F(FakeAudioHardwareTest, ProcessesAppearAndExit) {
    const AudioObjectID first = hw.addProcess(9);
    EXPECT_EQ(hw.processObject(9), first);
    hw.removeProcess(9);
    EXPECT_THROW(
        {
            try {
                hw.processObject(9);
            } catch (const AudioHardwareError& e) {
                EXPECT_EQ(e.kind(), AudioHardwareError::Kind::noSuchObject);
                throw;
            }
        },
        AudioHardwareError);
    EXPECT_NE(hw.addProcess(9), first); // a new process of the same pid is a new object
}

TEST_F(FakeAudioHardwareTest, DevicesListAggregatesAndInputOnlyDevices) {
    auto [tap, aggregate] = chain(false);
    const auto devices = hw.outputDevices();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[1].uid, "mic");
    EXPECT_EQ(devices[1].outputChannels, 0);
    EXPECT_EQ(devices[2].objectID, aggregate);
    EXPECT_TRUE(devices[2].isPrivateAggregate);
    EXPECT_EQ(devices[2].transport, DeviceTransport::aggregate);
    EXPECT_TRUE(hw.isDeviceAlive("speakers"));
    EXPECT_FALSE(hw.isDeviceAlive("nowhere"));
    hw.setDeviceAlive("speakers", false);
    EXPECT_FALSE(hw.isDeviceAlive("speakers"));
    hw.fail(Op::deviceListSize, -3, 1);
    EXPECT_THROW(hw.outputDevices(), AudioHardwareError);
}

TEST_F(FakeAudioHardwareTest, DeviceChangesArriveOnTheListenerQueue) {
    int changes = 0;
    bool onListenerQueue = false;
    hw.setOnDeviceChange([&] {
        ++changes;
        onListenerQueue = listeners->isCurrent();
    });
    hw.addDevice({"hdmi", "TV", DeviceTransport::hdmi, 2, true});
    EXPECT_EQ(changes, 0);
    scheduler.runPending();
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(onListenerQueue);
    hw.setDefaultOutput("hdmi");
    hw.removeDevice("hdmi");
    scheduler.runPending();
    EXPECT_EQ(changes, 3);
    hw.setOnDeviceChange(nullptr);
    hw.setDefaultOutput(std::nullopt);
    scheduler.runPending();
    EXPECT_EQ(changes, 3);
    EXPECT_THROW(hw.defaultOutputDeviceUID(), AudioHardwareError);
}

TEST_F(FakeAudioHardwareTest, RenderLoopFeedsTheTappedProcessSignal) {
    auto [tap, aggregate] = chain(true);
    hw.setProcessSignal(42, 0.5f);
    EXPECT_EQ(hw.ownRouteLevel(42), 0.0f); // muted while tapped
    TapIOState state(0.5f, false);
    state.memory()->passthrough = 1;
    hw.startIO(aggregate, makeTapIOBlock(state.memory()));
    hw.renderCycle();
    EXPECT_EQ(state.memory()->peak, 0.5f);
    EXPECT_FLOAT_EQ(hw.lastOutputPeak(aggregate), 0.25f);
    hw.destroyTap(tap.objectID);
    EXPECT_EQ(hw.ownRouteLevel(42), 0.5f);
}

TEST_F(FakeAudioHardwareTest, FailureSwitchCountsDown) {
    hw.fail(Op::processObject, -9, 2);
    hw.addProcess(3);
    EXPECT_THROW(hw.processObject(3), AudioHardwareError);
    EXPECT_THROW(hw.processObject(3), AudioHardwareError);
    EXPECT_NO_THROW(hw.processObject(3));
}

} // namespace
} // namespace brindell
