#include "mixer/PerAppSettings.h"

#include "audio/fake/FakeAudioHardware.h"
#include "settings/fake/MemorySettingsStorage.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

using StartError = TapSessionManager::StartError;

constexpr pid_type player = 300;
constexpr pid_type helper = 301;
const std::string browser = "org.example.Browser";

class PerAppSettingsTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeAudioHardware> hw = std::make_shared<FakeAudioHardware>();
    std::shared_ptr<MemorySettingsStorage> storage = std::make_shared<MemorySettingsStorage>(
        R"({"apps":{"org.example.Browser":{"isMuted":true,"outputDeviceUID":"headphones",)"
        R"("volume":0.25}},"version":1})");
    std::shared_ptr<AppSettingsStore> store = std::make_shared<AppSettingsStore>(storage);
    std::shared_ptr<TapSessionManager> manager =
        std::make_shared<TapSessionManager>("Brindell", "com.quorvel.", hw);
    PerAppSettings settings{manager, store};

    void SetUp() override {
        hw->addDevice({"speakers", "Speakers", DeviceTransport::builtIn, 2, true});
        hw->addDevice({"headphones", "Headphones", DeviceTransport::usb, 2, true});
        hw->setDefaultOutput("speakers");
        hw->addProcess(player);
        hw->addProcess(helper);
    }

    TapSessionManager::Session& session(pid_type pid) {
        const auto found = manager->session(pid);
        if (!found) {
            throw std::runtime_error("no session for " + std::to_string(pid));
        }
        return *found;
    }
};

TEST_F(PerAppSettingsTest, AttachWithoutAStoredEntryUsesTheDefaultsAndStillRecordsTheApp) {
    settings.attach(player, std::string("org.example.New"));
    const auto& s = session(player);
    EXPECT_EQ(s.requestedOutputUID, std::nullopt);
    EXPECT_EQ(s.resolvedOutputUID, "speakers");
    EXPECT_EQ(s.volume, 1.0f);
    EXPECT_FALSE(s.muted);
    EXPECT_EQ(settings.bundleID(player), "org.example.New");

    // Without a bundle id nothing is remembered.
    settings.attach(helper, std::nullopt);
    EXPECT_EQ(settings.bundleID(helper), std::nullopt);
    EXPECT_EQ(storage->saves, 0);

    // A reused pid does not inherit the old process's application.
    manager->stop(player); // its row has not been cleaned up yet
    settings.attach(player, std::nullopt);
    EXPECT_EQ(settings.bundleID(player), std::nullopt);
}

TEST_F(PerAppSettingsTest, AFailedStartRecordsNothing) {
    EXPECT_THROW(settings.attach(999, browser), StartError);
    EXPECT_EQ(settings.bundleID(999), std::nullopt);

    hw->fail(FakeAudioHardware::Op::createTap, -5);
    EXPECT_THROW(settings.attach(player, browser), StartError);
    EXPECT_TRUE(settings.bundleIDs().empty());
    EXPECT_TRUE(hw->taps().empty());
}

TEST_F(PerAppSettingsTest, ResetReturnsEveryHelperToDefaultsAndWritesOnlyWhatWasStored) {
    settings.attach(player, browser);
    settings.attach(helper, browser);
    hw->addProcess(302);
    settings.attach(302, std::string("org.example.Other"));
    manager->setVolume(302, 0.5f);

    settings.reset(browser);
    EXPECT_EQ(storage->saves, 1);
    EXPECT_FALSE(store->apps().contains(browser));
    for (const pid_type pid : {player, helper}) {
        const auto& s = session(pid);
        EXPECT_EQ(s.volume, 1.0f);
        EXPECT_FALSE(s.muted);
        EXPECT_EQ(s.requestedOutputUID, std::nullopt);
        EXPECT_EQ(s.resolvedOutputUID, "speakers");
        EXPECT_EQ(s.ioState->memory()->gain.load(), 1.0f);
        EXPECT_EQ(s.ioState->memory()->muted.load(), 0);
    }
    EXPECT_EQ(session(302).volume, 0.5f) << "another application is left alone";

    settings.reset(browser);
    EXPECT_EQ(storage->saves, 1) << "nothing stored, nothing written";

    // Resetting all with an empty table writes nothing but resets every session.
    manager->setMuted(helper, true);
    manager->setOutput(302, "headphones");
    settings.resetAll();
    EXPECT_EQ(storage->saves, 1);
    EXPECT_FALSE(session(helper).muted);
    EXPECT_EQ(session(302).volume, 1.0f);
    EXPECT_EQ(session(302).requestedOutputUID, std::nullopt);

    store->setVolume(0.3f, browser, false);
    settings.resetAll();
    EXPECT_EQ(storage->saves, 2);
    EXPECT_TRUE(store->apps().empty());
}

} // namespace
} // namespace brindell
