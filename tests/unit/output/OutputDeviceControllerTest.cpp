#include "output/OutputDeviceController.h"

#include "audio/fake/FakeAudioHardware.h"
#include "output/fake/FakeSystemAudioControl.h"
#include "queue/DeterministicQueue.h"

#include <cmath>
#include <gtest/gtest.h>

namespace brindell {
namespace {

using ControlOp = FakeSystemAudioControl::Op;
using HardwareOp = FakeAudioHardware::Op;

std::vector<std::string> uids(const std::vector<AudioDeviceInfo>& devices) {
    std::vector<std::string> result;
    for (const auto& device : devices) {
        result.push_back(device.uid);
    }
    return result;
}

// The system as the controller sees it: the device list through the hardware, the default
// output, volume and mute through the control, both reporting on the listener queue.
class OutputDeviceControllerTest : public ::testing::Test {
protected:
    DeterministicScheduler scheduler;
    std::shared_ptr<DeterministicQueue> engine = scheduler.makeQueue("mixer");
    std::shared_ptr<DeterministicQueue> listeners = scheduler.makeQueue("control-listeners");
    std::shared_ptr<FakeAudioHardware> hardware = std::make_shared<FakeAudioHardware>(listeners);
    std::shared_ptr<FakeSystemAudioControl> control =
        std::make_shared<FakeSystemAudioControl>(listeners);
    std::shared_ptr<OutputDeviceController> controller =
        OutputDeviceController::create(control, hardware, NameCollator(std::locale::classic()));
    std::vector<std::optional<OutputState>> published;

    void SetUp() override {
        addOutput({"speakers", "Speakers", DeviceTransport::builtIn, 2, true}, 0.5f, false, 2);
        addOutput({"headphones", "Headphones", DeviceTransport::usb, 2, true}, 0.8f, true);
        control->setSystemDefault("speakers");
        controller->setOnChange([this](const std::optional<OutputState>& state) {
            EXPECT_TRUE(engine->isCurrent() || !started) << "published off the engine queue";
            published.push_back(state);
        });
    }

    bool started = false;

    void addOutput(FakeAudioHardware::Device device, std::optional<float> volume,
                   std::optional<bool> muted, int volumeReports = 1) {
        control->addDevice({device.uid, volume, muted, "", volumeReports});
        hardware->addDevice(std::move(device));
    }

    // Starts on the engine queue and lets the first refresh run.
    void start() {
        started = true;
        engine->async([this] { controller->start(engine, 0.05); });
        scheduler.runPending();
        control->clearCalls();
    }

    // Runs an action on the engine queue, as the engine does, and hands back what it threw.
    template <typename Action> std::exception_ptr onEngine(Action action) {
        std::exception_ptr error;
        engine->async([&] {
            try {
                action();
            } catch (...) {
                error = std::current_exception();
            }
        });
        scheduler.runPending();
        return error;
    }

    template <typename Error> static Error thrown(const std::exception_ptr& error) {
        try {
            if (error) {
                std::rethrow_exception(error);
            }
        } catch (const Error& e) {
            return e;
        }
        ADD_FAILURE() << "expected an error of the asked type";
        throw std::logic_error("no error");
    }

    std::size_t refreshes() const { return control->callCount("defaultOutputUID"); }
};

TEST_F(OutputDeviceControllerTest,
       StartPublishesAndABurstOfReportsGivesOneRefreshLaterThatPublishesOnlyAChange) {
    start();
    EXPECT_EQ(published, (std::vector<std::optional<OutputState>>{
                             OutputState{"speakers", "Speakers", 0.5f, false}}));
    EXPECT_EQ(controller->observedUID(), "speakers");
    EXPECT_EQ(control->observedDevice(), "speakers");
    const Seconds first = scheduler.now();
    control->changeVolume("speakers", 0.3f); // two channels: two reports
    control->changeMute("speakers", true);
    control->reportChange();
    scheduler.runPending();
    EXPECT_EQ(refreshes(), 0u);

    scheduler.advance(0.02);
    control->changeVolume("speakers", 0.25f); // within the interval: joins the same refresh
    scheduler.advance(0.02);
    EXPECT_EQ(refreshes(), 0u);

    ASSERT_TRUE(scheduler.advanceToNextDeadline());
    EXPECT_NEAR(scheduler.now() - first, 0.05, 1e-9);
    EXPECT_EQ(refreshes(), 1u);
    ASSERT_EQ(published.size(), 2u);
    EXPECT_EQ(published[1], (OutputState{"speakers", "Speakers", 0.25f, true}));

    scheduler.advance(1.0);
    EXPECT_EQ(refreshes(), 1u);

    // The next burst is a new one.
    control->changeMute("speakers", false);
    scheduler.advance(0.05);
    EXPECT_EQ(refreshes(), 2u);
    EXPECT_EQ(published.size(), 3u);

    // A change and its undo inside one interval: the refresh reads an unchanged state and
    // publishes nothing.
    control->changeVolume("speakers", 0.9f);
    control->changeVolume("speakers", 0.25f);
    scheduler.advance(0.05);
    EXPECT_EQ(refreshes(), 3u);
    EXPECT_EQ(published.size(), 3u);
    EXPECT_EQ(control->callCount("observeDevice"), 0u); // still watching the same device
}

TEST_F(OutputDeviceControllerTest,
       SetVolumeAndMuteGoThroughTheSystemAndPublishAndNaNKeepsTheVolume) {
    start();
    EXPECT_EQ(onEngine([&] { controller->setVolume(0.7f); }), nullptr);
    EXPECT_EQ(control->device("speakers")->volume, 0.7f);
    EXPECT_EQ(published.back()->volume, 0.7f);
    EXPECT_EQ(onEngine([&] { controller->setVolume(std::nanf("")); }), nullptr);
    EXPECT_EQ(control->device("speakers")->volume, 0.7f); // never a blast, never silence
    EXPECT_EQ(controller->state()->volume, 0.7f);

    // A mute goes through the system, too, and a refused one is dropped.
    EXPECT_EQ(onEngine([&] { controller->setMuted(true); }), nullptr);
    EXPECT_EQ(control->device("speakers")->muted, true);
    EXPECT_EQ(published.back()->isMuted, true);
    control->fail(ControlOp::setMute, -5);
    const std::size_t before = refreshes();
    EXPECT_EQ(onEngine([&] { controller->setMuted(false); }), nullptr);
    EXPECT_EQ(refreshes(), before);
    EXPECT_EQ(controller->state()->isMuted, true);
}

TEST_F(OutputDeviceControllerTest, SetVolumeAndMuteRefusals) {
    // Before any state.
    EXPECT_EQ(thrown<ControlError>(onEngine([&] { controller->setVolume(0.5f); })).kind(),
              ControlError::Kind::noDefaultOutput);
    EXPECT_EQ(control->callCount("setVolume"), 0u);

    // The system refuses: raised as it is, with no refresh.
    start();
    control->fail(ControlOp::setVolume, -22);
    EXPECT_EQ(thrown<AudioHardwareError>(onEngine([&] { controller->setVolume(0.1f); })),
              AudioHardwareError::status("SetVolume", -22));
    EXPECT_EQ(refreshes(), 0u);
    EXPECT_EQ(controller->state()->volume, 0.5f);
    control->clearFailures();

    // An output without software volume.
    addOutput({"hdmi", "", DeviceTransport::hdmi, 2, true}, std::nullopt, std::nullopt);
    control->setSystemDefault("hdmi");
    scheduler.advance(0.05);
    // Nameless: the UID stands in.
    EXPECT_EQ(published.back(), (OutputState{"hdmi", "hdmi", std::nullopt, std::nullopt}));
    EXPECT_EQ(control->observedDevice(), "hdmi"); // the watched device follows the default
    control->clearCalls();
    EXPECT_EQ(thrown<ControlError>(onEngine([&] { controller->setVolume(0.5f); })).kind(),
              ControlError::Kind::noSoftwareVolume);
    EXPECT_EQ(control->callCount("setVolume"), 0u);
    // Without a mute control nothing is asked of the system either.
    EXPECT_EQ(onEngine([&] { controller->setMuted(true); }), nullptr);
    EXPECT_EQ(control->callCount("setMuted"), 0u);
}

TEST_F(OutputDeviceControllerTest, AnUnpluggedDeviceIsUnavailableAndNothingChanges) {
    addOutput({"dock", "Dock", DeviceTransport::usb, 2, true}, 1.0f, false);
    start();
    hardware->removeDevice("headphones"); // gone from the device list before the panel knew
    hardware->setDeviceAlive("dock", false);
    for (const char* uid : {"headphones", "dock", "never-seen"}) {
        SCOPED_TRACE(uid);
        EXPECT_EQ(thrown<ControlError>(onEngine([&] { controller->setDefaultOutput(uid); })).kind(),
                  ControlError::Kind::deviceUnavailable);
    }
    EXPECT_EQ(control->callCount("setDefaultOutput"), 0u);
    EXPECT_EQ(control->systemDefault(), "speakers");
    EXPECT_EQ(controller->state()->deviceUID, "speakers");
    EXPECT_EQ(published.size(), 1u);
}

TEST_F(OutputDeviceControllerTest, ChoosingAnOutputMovesTheStateAndTheWatch) {
    start();
    EXPECT_EQ(onEngine([&] { controller->setDefaultOutput("headphones"); }), nullptr);
    EXPECT_EQ(control->systemDefault(), "headphones");
    EXPECT_EQ(published.back(), (OutputState{"headphones", "Headphones", 0.8f, true}));
    EXPECT_EQ(control->observedDevice(), "headphones");

    // The system's own report of the switch arrives later and changes nothing.
    scheduler.advance(0.05);
    EXPECT_EQ(published.size(), 2u);

    control->fail(ControlOp::setDefaultOutput, -1);
    EXPECT_EQ(
        thrown<AudioHardwareError>(onEngine([&] { controller->setDefaultOutput("speakers"); })),
        AudioHardwareError::status("SetDefaultOutput", -1));
    EXPECT_EQ(controller->state()->deviceUID, "headphones");
}

TEST_F(OutputDeviceControllerTest, ACombinedDefaultOutputIsShownAsItsMainDevice) {
    control->addDevice({"combined", std::nullopt, std::nullopt, "headphones", 1});
    hardware->addDevice({"combined", "Combined Output", DeviceTransport::aggregate, 4, true});
    control->setSystemDefault("combined");
    start();
    EXPECT_EQ(published.back(), (OutputState{"headphones", "Headphones", 0.8f, true}));
    EXPECT_EQ(control->observedDevice(), "headphones");

    std::vector<AudioDeviceInfo> choices;
    onEngine([&] { choices = controller->outputs(); });
    EXPECT_EQ(uids(choices), (std::vector<std::string>{"headphones", "speakers"}));
}

TEST_F(OutputDeviceControllerTest, OutputsListUsableDevicesDefaultFirstThenByName) {
    hardware->addDevice({"mic", "A Microphone", DeviceTransport::usb, 0, true});
    hardware->addDevice({"asleep", "A Sleeping Dock", DeviceTransport::usb, 2, false});
    hardware->addDevice({"com.quorvel.app.42", "Brindell 42", DeviceTransport::aggregate, 2, true});
    hardware->addDevice({"bt", "bluetooth buds", DeviceTransport::bluetooth, 2, true});
    hardware->addDevice({"hdmi", "HDMI Monitor", DeviceTransport::hdmi, 8, true});
    hardware->addDevice({"nameless", "", DeviceTransport::other, 2, true});
    control->setSystemDefault("speakers");

    std::vector<AudioDeviceInfo> choices;
    onEngine([&] { choices = controller->outputs(); });
    EXPECT_EQ(uids(choices),
              (std::vector<std::string>{"speakers", "nameless", "bt", "hdmi", "headphones"}));

    // With no readable default output, the order is by name alone.
    control->fail(ControlOp::readDefaultOutput, -32);
    onEngine([&] { choices = controller->outputs(); });
    EXPECT_EQ(uids(choices),
              (std::vector<std::string>{"nameless", "bt", "hdmi", "headphones", "speakers"}));
    control->clearFailures();

    // An unreadable device list offers nothing, so nothing can be chosen.
    hardware->fail(HardwareOp::deviceList, -5);
    onEngine([&] { choices = controller->outputs(); });
    EXPECT_TRUE(choices.empty());
    EXPECT_EQ(
        thrown<ControlError>(onEngine([&] { controller->setDefaultOutput("speakers"); })).kind(),
        ControlError::Kind::deviceUnavailable);
}

TEST_F(OutputDeviceControllerTest, AFailedRefreshLeavesEverythingAsItWas) {
    start();
    control->fail(ControlOp::readDefaultOutput, -32);
    EXPECT_EQ(thrown<AudioHardwareError>(onEngine([&] { controller->refresh(); })),
              AudioHardwareError::status("DefaultOutputDevice", -32));
    control->setSystemDefault("headphones"); // reported, but the refresh it causes fails
    scheduler.advance(0.05);
    EXPECT_EQ(controller->state()->deviceUID, "speakers");
    EXPECT_EQ(controller->observedUID(), "speakers");
    EXPECT_EQ(control->observedDevice(), "speakers");
    EXPECT_EQ(published.size(), 1u);

    // The next report reads the system again.
    control->clearFailures();
    control->reportChange();
    scheduler.advance(0.05);
    EXPECT_EQ(controller->state()->deviceUID, "headphones");
    EXPECT_EQ(published.size(), 2u);
}

TEST_F(OutputDeviceControllerTest, StopOrLettingGoDropsPendingRefreshes) {
    start();
    control->changeVolume("speakers", 0.3f);
    scheduler.runPending(); // a refresh is now pending
    onEngine([&] { controller->stop(); });
    EXPECT_FALSE(control->hasOnChange());
    EXPECT_EQ(control->observedDevice(), std::nullopt);
    EXPECT_EQ(controller->observedUID(), std::nullopt);

    scheduler.advance(1.0);
    EXPECT_EQ(refreshes(), 0u);
    EXPECT_EQ(control->observedDevice(), std::nullopt); // nothing re-attached behind its back

    // Started again, it reads and watches afresh, and reports coalesce again although it was
    // stopped with a refresh pending.
    start();
    EXPECT_EQ(controller->state()->volume, 0.3f);
    EXPECT_EQ(control->observedDevice(), "speakers");
    control->changeVolume("speakers", 0.6f);
    scheduler.advance(0.05);
    EXPECT_EQ(refreshes(), 1u);
    EXPECT_EQ(controller->state()->volume, 0.6f);

    // Reports for a controller the engine let go without stopping it are harmless.
    control->reportChange();
    scheduler.runPending(); // a refresh is pending on the engine queue
    control->reportChange();
    controller.reset();
    scheduler.advance(1.0);
    EXPECT_EQ(refreshes(), 1u);
}

} // namespace
} // namespace brindell
