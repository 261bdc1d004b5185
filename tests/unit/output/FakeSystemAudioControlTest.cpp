#include "output/fake/FakeSystemAudioControl.h"

#include "queue/DeterministicQueue.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

using Op = FakeSystemAudioControl::Op;

// The controller's tests lean on the fake reporting changes the way the audio server does;
// these pin that down.
class FakeSystemAudioControlTest : public ::testing::Test {
protected:
    DeterministicScheduler scheduler;
    std::shared_ptr<DeterministicQueue> listeners = scheduler.makeQueue("listeners");
    FakeSystemAudioControl control{listeners};
    int reports = 0;

    void SetUp() override {
        control.addDevice({"speakers", 0.5f, false, "", 2});
        control.addDevice({"hdmi", std::nullopt, std::nullopt, "", 1});
        control.setSystemDefault("speakers");
        control.setOnChange([this] {
            EXPECT_TRUE(listeners->isCurrent());
            ++reports;
        });
    }
};

TEST_F(FakeSystemAudioControlTest, ReportsOnTheListenerQueueAndVolumeOnlyWhileWatched) {
    control.changeVolume("speakers", 0.2f);
    scheduler.runPending();
    EXPECT_EQ(reports, 0); // not watched yet

    control.observeDevice("speakers");
    control.changeVolume("speakers", 0.3f);
    EXPECT_EQ(reports, 0); // delivered on the queue, not on the caller's thread
    scheduler.runPending();
    EXPECT_EQ(reports, 2); // one per channel

    control.setMuted("speakers", true);
    control.setSystemDefault("hdmi"); // the default output is always watched
    scheduler.runPending();
    EXPECT_EQ(reports, 4);

    control.observeDevice("unplugged");
    EXPECT_EQ(control.observedDevice(), std::nullopt);
    control.changeMute("speakers", false);
    scheduler.runPending();
    EXPECT_EQ(reports, 4);
}

TEST_F(FakeSystemAudioControlTest, RefusesAsTheServerWouldAndFailsOnDemand) {
    EXPECT_EQ(control.volume("hdmi"), std::nullopt);
    EXPECT_EQ(control.isMuted("hdmi"), std::nullopt);
    EXPECT_EQ(control.volume("unplugged"), std::nullopt);
    try {
        control.setVolume("hdmi", 0.5f);
        FAIL() << "a device without software volume cannot be set";
    } catch (const AudioHardwareError& e) {
        EXPECT_EQ(e, AudioHardwareError::noSuchObject());
    }
    EXPECT_THROW(control.setMuted("hdmi", true), AudioHardwareError);
    EXPECT_THROW(control.setDefaultOutput("unplugged"), AudioHardwareError);

    control.fail(Op::setVolume, -22, 1);
    try {
        control.setVolume("speakers", 0.1f);
        FAIL() << "expected the scripted failure";
    } catch (const AudioHardwareError& e) {
        EXPECT_EQ(e, AudioHardwareError::status("SetVolume", -22));
    }
    EXPECT_EQ(control.device("speakers")->volume, 0.5f); // a refused write changes nothing
    control.setVolume("speakers", 0.1f);                 // the failure was for one call
    EXPECT_EQ(control.device("speakers")->volume, 0.1f);

    control.fail(Op::readVolume);
    EXPECT_EQ(control.volume("speakers"), std::nullopt);
    control.fail(Op::readDefaultOutput, -32);
    EXPECT_THROW(control.defaultOutputUID(), AudioHardwareError);
    control.clearFailures();
    EXPECT_EQ(control.volume("speakers"), 0.1f);

    control.removeDevice("speakers");
    try {
        control.defaultOutputUID();
        FAIL() << "a vanished default output names no device";
    } catch (const AudioHardwareError& e) {
        EXPECT_EQ(e, AudioHardwareError::noSuchObject());
    }
}

} // namespace
} // namespace brindell
