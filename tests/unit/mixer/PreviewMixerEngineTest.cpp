#include "mixer/PreviewMixerEngine.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

class PreviewMixerEngineTest : public ::testing::Test {
protected:
    PreviewMixerEngine engine;
    int changes = 0;

    void SetUp() override {
        engine.setOnChange([this] { ++changes; });
    }

    const MixerRow& row(pid_type pid) {
        for (const auto& r : engine.current().rows) {
            if (r.pid == pid) {
                return r;
            }
        }
        throw std::out_of_range("no row");
    }
};

TEST_F(PreviewMixerEngineTest, RowOperationsChangeTheRowAndReportOnce) {
    engine.setVolume(1, 1.5f); // stored as given; the view model clamps what it shows
    EXPECT_EQ(row(1).volume, 1.5f);
    engine.setMuted(1, true);
    EXPECT_TRUE(row(1).isMuted);
    EXPECT_EQ(changes, 2);

    // Choosing an output for the waiting row clears its waiting status.
    ASSERT_EQ(row(4).status, MixerRowStatus::waitingForDevice());
    engine.setOutput(4, "hdmi");
    EXPECT_EQ(row(4).outputUID, "hdmi");
    EXPECT_EQ(row(4).status, MixerRowStatus::ok());
    engine.setOutput(4, std::nullopt);
    EXPECT_EQ(row(4).outputUID, std::nullopt);
    EXPECT_EQ(changes, 4);
}

TEST_F(PreviewMixerEngineTest, OperationsOnNothingChangeNothingButStillReport) {
    const MixerSnapshot before = engine.current();
    engine.setVolume(99, 0.1f);
    engine.setMuted(99, true);
    engine.setOutput(99, "bt");
    EXPECT_EQ(engine.current(), before);
    EXPECT_EQ(changes, 3);

    // So do master operations without a master section.
    MixerSnapshot s = engine.current();
    s.master.reset();
    engine.publish(s);
    engine.setMasterVolume(0.1f);
    engine.setMasterMuted(true);
    engine.setDefaultOutput("bt");
    EXPECT_FALSE(engine.current().master);
    EXPECT_EQ(changes, 7);
}

TEST_F(PreviewMixerEngineTest, MasterOperations) {
    engine.setMasterVolume(0.25f);
    engine.setMasterMuted(true);
    EXPECT_EQ(engine.current().master->volume, 0.25f);
    EXPECT_EQ(engine.current().master->isMuted, true);

    // The master section takes the chosen output's name; the default name stays.
    engine.setDefaultOutput("hdmi");
    EXPECT_EQ(engine.current().master->deviceUID, "hdmi");
    EXPECT_EQ(engine.current().master->deviceName, "Monitor");
    EXPECT_EQ(engine.current().defaultOutputName, "Built-in Speakers");

    engine.setDefaultOutput("nowhere");
    EXPECT_EQ(engine.current().master->deviceUID, "hdmi");
    EXPECT_EQ(changes, 4);
}

TEST_F(PreviewMixerEngineTest, ForgettingRemovesRowsAndRecheckResetsPermission) {
    engine.forgetSettings("com.example.call");
    ASSERT_EQ(engine.current().rows.size(), 3u);
    EXPECT_EQ(engine.current().rows[1].name, "Browser Helper");
    engine.forgetAllSettings();
    EXPECT_TRUE(engine.current().rows.empty());

    MixerSnapshot s = engine.current();
    s.permission = PermissionState::likelyDenied;
    engine.publish(s);
    engine.recheckPermission();
    EXPECT_EQ(engine.current().permission, PermissionState::unknown);
    EXPECT_EQ(changes, 4);
}

} // namespace
} // namespace brindell
