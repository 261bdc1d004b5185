#include "mixer/MixerViewModel.h"

#include "mixer/PreviewMixerEngine.h"
#include "queue/DeterministicQueue.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace brindell {
namespace {

// The view model over the preview engine, its main queue a deterministic one: the engine's
// change reports only reach the model when the test runs the main queue.
class MixerViewModelTest : public ::testing::Test {
protected:
    DeterministicScheduler scheduler;
    std::shared_ptr<DeterministicQueue> main = scheduler.makeQueue("main");
    std::shared_ptr<PreviewMixerEngine> engine = std::make_shared<PreviewMixerEngine>();
    std::shared_ptr<MixerViewModel> model = MixerViewModel::create(engine, main);

    const MixerRow& modelRow(pid_type pid) {
        for (const auto& r : model->rows.get()) {
            if (r.pid == pid) {
                return r;
            }
        }
        throw std::out_of_range("no row " + std::to_string(pid));
    }
    const MixerRow& engineRow(pid_type pid) {
        for (const auto& r : engine->current().rows) {
            if (r.pid == pid) {
                return r;
            }
        }
        throw std::out_of_range("no engine row " + std::to_string(pid));
    }
    // Another application starts playing, as the audio side would report it.
    void engineAddsRow(pid_type pid, std::string name) {
        MixerSnapshot s = engine->current();
        MixerRow row;
        row.pid = pid;
        row.name = std::move(name);
        s.rows.push_back(row);
        engine->publish(s);
    }
    bool key(KeyAction action, bool shift = false, bool option = false) {
        return model->handleKey(action, shift, option);
    }
    std::optional<KeyboardTarget> target() { return model->keyboardTarget.get(); }
};

TEST_F(MixerViewModelTest, StartsWithTheEngineSnapshotAndFollowsItOnTheMainQueue) {
    EXPECT_EQ(model->rows->size(), 4u);
    EXPECT_EQ(model->master.get(), engine->current().master);
    EXPECT_EQ(model->outputs->size(), 3u);
    EXPECT_EQ(model->defaultOutputName.get(), "Built-in Speakers");
    EXPECT_EQ(model->volumeBox(1)->value(), 0.8f);
    EXPECT_EQ(model->volumeBox(77)->value(), 1.0f); // no such row
    EXPECT_TRUE(model->hasVolumeBox(77));

    // Engine changes arrive only through the main queue.
    engineAddsRow(9, "Podcasts");
    EXPECT_EQ(model->rows->size(), 4u) << "refreshed off the main queue";
    scheduler.runPending();
    ASSERT_EQ(model->rows->size(), 5u);
    EXPECT_EQ(model->rows->back().name, "Podcasts");
}

TEST_F(MixerViewModelTest, RefreshRepublishesStateButRowsOnlyWhenTheyDiffer) {
    int rowsPublished = 0;
    int masterPublished = 0;
    auto a = model->rows.subscribe([&](const auto&) { ++rowsPublished; });
    auto b = model->master.subscribe([&](const auto&) { ++masterPublished; });
    model->refresh();
    EXPECT_EQ(rowsPublished, 0);
    EXPECT_EQ(masterPublished, 1);

    // An icon alone is no change of the rows.
    MixerSnapshot s = engine->current();
    s.rows[0].icon = "new-icon";
    engine->publish(s);
    scheduler.runPending();
    EXPECT_EQ(rowsPublished, 0);

    engine->setMuted(2, true);
    scheduler.runPending();
    EXPECT_EQ(rowsPublished, 1);
    EXPECT_TRUE(modelRow(2).isMuted);
}

TEST_F(MixerViewModelTest, RefreshKeepsBoxesInStepAndDropsTheBoxesAndSelectionOfGoneRows) {
    const auto box = model->volumeBox(1);
    model->volumeBox(3);
    int boxChanges = 0;
    auto s = box->subscribe([&](float) { ++boxChanges; });

    engine->setVolume(1, 0.2f);
    scheduler.runPending();
    EXPECT_EQ(box->value(), 0.2f);
    model->refresh();
    EXPECT_EQ(boxChanges, 1) << "an unchanged value is not set again";

    model->keyboardTarget.set(KeyboardTarget::row(3));
    engine->forgetSettings("com.example.browser"); // row 3
    scheduler.runPending();
    EXPECT_FALSE(model->hasVolumeBox(3));
    EXPECT_TRUE(model->hasVolumeBox(1));
    EXPECT_FALSE(target());
}

TEST_F(MixerViewModelTest, RowActionsShowAtOnceAndTheVolumeCleanedButSentAsGiven) {
    model->setVolume(1, 0.4f);
    model->setVolume(1, std::numeric_limits<float>::quiet_NaN()); // keeps what is shown
    EXPECT_EQ(model->volumeBox(1)->value(), 0.4f);
    EXPECT_EQ(modelRow(1).volume, 0.4f);
    EXPECT_TRUE(std::isnan(engineRow(1).volume));

    // Mute and output apply at once, too.
    model->setMuted(1, true);
    EXPECT_TRUE(modelRow(1).isMuted);
    EXPECT_TRUE(engineRow(1).isMuted);
    model->setOutput(1, "hdmi");
    EXPECT_EQ(modelRow(1).outputUID, "hdmi");
    EXPECT_EQ(engineRow(1).outputUID, "hdmi");
    model->setOutput(1, std::nullopt);
    EXPECT_EQ(modelRow(1).outputUID, std::nullopt);
}

TEST_F(MixerViewModelTest, MasterActionsTouchOnlyWhatTheOutputHas) {
    model->setMasterVolume(1.4f);
    EXPECT_EQ(model->master.get()->volume, 1.0f);
    EXPECT_EQ(engine->current().master->volume, 1.4f);

    // An output without software volume or mute control keeps showing none, but the engine is
    // still asked.
    MixerSnapshot s = engine->current();
    s.master = OutputState{"hdmi", "Monitor", std::nullopt, std::nullopt};
    engine->publish(s);
    scheduler.runPending();
    int changes = 0;
    engine->setOnChange([&] { ++changes; });
    model->setMasterVolume(0.3f);
    model->setMasterMuted(false);
    EXPECT_EQ(model->master.get()->volume, std::nullopt);
    EXPECT_EQ(model->master.get()->isMuted, std::nullopt);
    EXPECT_EQ(changes, 2);
    // Its keys are still used, but ask nothing of the engine.
    model->keyboardTarget.set(KeyboardTarget::master());
    EXPECT_TRUE(key(KeyAction::right));
    EXPECT_TRUE(key(KeyAction::mute));
    EXPECT_EQ(changes, 2);
}

TEST_F(MixerViewModelTest, DragIgnoresEngineChangesUntilItEnds) {
    model->setDragging(1, true);
    EXPECT_EQ(model->draggingPID(), 1);

    model->setVolume(1, 0.4f);
    EXPECT_EQ(model->volumeBox(1)->value(), 0.4f);
    EXPECT_EQ(modelRow(1).volume, 0.8f) << "the dragged row's record waits for the drag's end";

    // A new app and a status change meanwhile change nothing in the list.
    engineAddsRow(9, "Podcasts");
    MixerSnapshot s = engine->current();
    s.rows[0].status = MixerRowStatus::captureFailed("gone");
    s.rows[0].volume = 0.9f; // the engine publishes another value for the dragged row
    engine->publish(s);
    scheduler.runPending();
    EXPECT_EQ(model->rows->size(), 4u);
    EXPECT_EQ(modelRow(1).status, MixerRowStatus::ok());
    EXPECT_EQ(model->volumeBox(1)->value(), 0.4f) << "the knob follows only the pointer";

    model->setVolume(1, 0.35f);
    model->setDragging(1, false);
    EXPECT_FALSE(model->draggingPID());
    EXPECT_EQ(model->rows->size(), 5u);
    EXPECT_EQ(modelRow(1).status, MixerRowStatus::captureFailed("gone"));
    EXPECT_EQ(modelRow(1).volume, 0.35f);
    EXPECT_EQ(model->volumeBox(1)->value(), 0.35f);
}

TEST_F(MixerViewModelTest, KeyMapping) {
    using K = KeyAction;
    EXPECT_EQ(MixerViewModel::keyAction(keycode::upArrow, "", false, false), K::up);
    EXPECT_EQ(MixerViewModel::keyAction(keycode::downArrow, "", false, false), K::down);
    EXPECT_EQ(MixerViewModel::keyAction(keycode::leftArrow, "", false, false), K::left);
    EXPECT_EQ(MixerViewModel::keyAction(keycode::rightArrow, "", false, false), K::right);
    EXPECT_EQ(MixerViewModel::keyAction(keycode::home, "", false, false), K::home);
    EXPECT_EQ(MixerViewModel::keyAction(keycode::end, "", false, false), K::end);
    EXPECT_EQ(MixerViewModel::keyAction(46, "m", false, false), K::mute);
    EXPECT_EQ(MixerViewModel::keyAction(46, "M", false, false), K::mute);
    EXPECT_EQ(MixerViewModel::keyAction(15, "R", false, false), K::output);
    EXPECT_EQ(MixerViewModel::keyAction(0, "a", false, false), std::nullopt);
    EXPECT_EQ(MixerViewModel::keyAction(0, "mr", false, false), std::nullopt);
    EXPECT_EQ(MixerViewModel::keyAction(0, "", false, false), std::nullopt);
    // Command or Control take the key away from the panel, arrows included.
    EXPECT_EQ(MixerViewModel::keyAction(keycode::upArrow, "", true, false), std::nullopt);
    EXPECT_EQ(MixerViewModel::keyAction(46, "m", false, true), std::nullopt);
}

TEST_F(MixerViewModelTest, ArrowsHomeAndEndWalkMasterThenRowsWithoutWrapping) {
    // Down from nothing selects the master section; up there keeps it.
    EXPECT_TRUE(key(KeyAction::down));
    EXPECT_EQ(target(), KeyboardTarget::master());
    EXPECT_TRUE(key(KeyAction::up));
    EXPECT_EQ(target(), KeyboardTarget::master());

    for (pid_type pid : {1, 2, 3, 4}) {
        key(KeyAction::down);
        EXPECT_EQ(target(), KeyboardTarget::row(pid));
    }
    key(KeyAction::down);
    EXPECT_EQ(target(), KeyboardTarget::row(4)) << "down on the last row stays";

    model->keyboardTarget.set(std::nullopt);
    key(KeyAction::up);
    EXPECT_EQ(target(), KeyboardTarget::row(4)) << "up from nothing selects the last entry";

    // A target no longer in the list counts as none.
    model->keyboardTarget.set(KeyboardTarget::row(99));
    key(KeyAction::down);
    EXPECT_EQ(target(), KeyboardTarget::master());

    // Home and End, and End with no rows.
    engine->forgetAllSettings();
    engineAddsRow(10, "A");
    engineAddsRow(11, "B");
    scheduler.runPending();
    EXPECT_TRUE(key(KeyAction::end));
    EXPECT_EQ(target(), KeyboardTarget::row(11));
    key(KeyAction::down);
    EXPECT_EQ(target(), KeyboardTarget::row(11));
    EXPECT_TRUE(key(KeyAction::home));
    EXPECT_EQ(target(), KeyboardTarget::master());

    engine->forgetAllSettings();
    scheduler.runPending();
    key(KeyAction::end);
    EXPECT_EQ(target(), KeyboardTarget::master()) << "no rows: End selects the master section";
}

TEST_F(MixerViewModelTest, LeftAndRightStepTheVolume) {
    EXPECT_FALSE(key(KeyAction::right)) << "nothing selected";

    model->keyboardTarget.set(KeyboardTarget::row(1)); // at 0.8
    EXPECT_TRUE(key(KeyAction::right));
    EXPECT_FLOAT_EQ(engineRow(1).volume, 0.85f);
    key(KeyAction::left, /*shift*/ true);
    EXPECT_FLOAT_EQ(engineRow(1).volume, 0.84f);
    // Option wins over Shift.
    key(KeyAction::left, true, true);
    EXPECT_FLOAT_EQ(engineRow(1).volume, 0.64f);

    // 0.9 plus Option asks the engine for 1.1; the row shows 1.0.
    model->setVolume(1, 0.9f);
    key(KeyAction::right, false, true);
    EXPECT_FLOAT_EQ(engineRow(1).volume, 1.1f);
    EXPECT_EQ(modelRow(1).volume, 1.0f);
    EXPECT_EQ(model->volumeBox(1)->value(), 1.0f);

    model->keyboardTarget.set(KeyboardTarget::master()); // at 0.6
    key(KeyAction::left);
    EXPECT_FLOAT_EQ(*engine->current().master->volume, 0.55f);
    EXPECT_FLOAT_EQ(*model->master.get()->volume, 0.55f);
}

TEST_F(MixerViewModelTest, MuteTogglesTheTarget) {
    EXPECT_FALSE(key(KeyAction::mute)) << "nothing selected: the panel passes the key on";
    model->keyboardTarget.set(KeyboardTarget::row(3)); // muted
    EXPECT_TRUE(key(KeyAction::mute));
    EXPECT_FALSE(engineRow(3).isMuted);
    EXPECT_FALSE(modelRow(3).isMuted);
    model->keyboardTarget.set(KeyboardTarget::master());
    EXPECT_TRUE(key(KeyAction::mute));
    EXPECT_EQ(engine->current().master->isMuted, true);
}

TEST_F(MixerViewModelTest, OutputCyclesRowsThroughTheDevicesAndBackToTheDefault) {
    EXPECT_FALSE(key(KeyAction::output)) << "nothing selected";

    model->keyboardTarget.set(KeyboardTarget::row(1)); // system default
    std::vector<std::optional<std::string>> seen;
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(key(KeyAction::output));
        seen.push_back(engineRow(1).outputUID);
    }
    EXPECT_EQ(seen,
              (std::vector<std::optional<std::string>>{"builtin", "bt", "hdmi", std::nullopt}));
    // From a device no longer listed: the first device.
    model->keyboardTarget.set(KeyboardTarget::row(4)); // "usb"
    key(KeyAction::output);
    EXPECT_EQ(engineRow(4).outputUID, "builtin");
    EXPECT_EQ(modelRow(4).outputUID, "builtin");

    // With no devices listed a row stays on the default.
    MixerSnapshot s = engine->current();
    s.outputs.clear();
    engine->publish(s);
    scheduler.runPending();
    model->keyboardTarget.set(KeyboardTarget::row(2)); // "bt"
    EXPECT_TRUE(key(KeyAction::output));
    EXPECT_EQ(engineRow(2).outputUID, std::nullopt);
}

TEST_F(MixerViewModelTest, OutputOnMasterWrapsAroundAndNeedsADevice) {
    model->keyboardTarget.set(KeyboardTarget::master());
    std::vector<std::string> seen;
    for (int i = 0; i < 4; ++i) {
        key(KeyAction::output);
        scheduler.runPending();
        seen.push_back(engine->current().master->deviceUID);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"bt", "hdmi", "builtin", "bt"}));

    // With no devices nothing happens.
    MixerSnapshot s = engine->current();
    s.outputs.clear();
    engine->publish(s);
    scheduler.runPending();
    int changes = 0;
    engine->setOnChange([&] { ++changes; });
    EXPECT_TRUE(key(KeyAction::output));
    EXPECT_EQ(changes, 0);
}

// The canned rows: 1 Music (ok, 0.8), 2 Video Call (ok, 1.0), 3 Browser Helper (ok, muted),
// 4 Game (waitingForDevice).
TEST_F(MixerViewModelTest, LevelsShowOnlyWhileWantedForAudibleRowsAndFallOff) {
    scheduler.runPending();
    model->applyLevels({{1, 0.5f}});
    EXPECT_TRUE(model->levels->empty()) << "no panel, no levels";

    model->setLevelsWanted(true);
    scheduler.runPending(); // the preview engine's sample reading
    EXPECT_EQ(model->levels->size(), 2u) << "the muted and the waiting rows show none";
    EXPECT_TRUE(model->levels->contains(1) && model->levels->contains(2));

    model->applyLevels({{1, 1.0f}, {2, 0.6f}, {3, 0.5f}, {4, 0.5f}});
    EXPECT_EQ(model->levels.get(), (MixerLevels{{1, 1.0f}, {2, 0.6f}}));
    // Silence, read 0.15 s later on the main queue's clock: half-way down.
    scheduler.advance(0.15);
    model->applyLevels({{1, 0.0f}, {2, 0.0f}});
    EXPECT_NEAR(model->levels->at(1), 0.5f, 1e-4);

    // A mute the user just made takes the level away before the engine knows of it.
    int published = 0;
    auto watch = model->levels.subscribe([&published](const MixerLevels&) { ++published; });
    model->setMuted(1, true);
    model->applyLevels({{1, 0.9f}, {2, 0.0f}});
    EXPECT_FALSE(model->levels->contains(1));
    // An unchanged reading is not republished.
    model->applyLevels({{1, 0.9f}, {2, 0.0f}});
    EXPECT_EQ(published, 1);

    model->setLevelsWanted(false);
    EXPECT_TRUE(model->levels->empty());
    model->applyLevels({{2, 0.7f}}); // already on its way when the panel hid
    scheduler.runPending();
    EXPECT_TRUE(model->levels->empty());
}

TEST(PublishedTest, SubscribersMayLeaveDuringANotification) {
    Published<int> value(1);
    std::vector<std::string> calls;
    Subscription second;
    auto first = value.subscribe([&](const int& v) {
        calls.push_back("first " + std::to_string(v));
        second.reset(); // removed before its turn: not called
    });
    second = value.subscribe([&](const int&) { calls.push_back("second"); });
    value.set(2);
    EXPECT_EQ(calls, (std::vector<std::string>{"first 2"}));
    EXPECT_EQ(value.subscriberCount(), 1u);
    first.reset();
    EXPECT_EQ(value.subscriberCount(), 0u);

    // A subscription outliving its value is harmless.
    Subscription orphan;
    {
        Published<int> gone;
        orphan = gone.subscribe([](const int&) {});
    }
    orphan.reset();
}

} // namespace
} // namespace brindell
