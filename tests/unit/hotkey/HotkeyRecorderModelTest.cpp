#include "hotkey/HotkeyRecorderModel.h"

#include "hotkey/fake/FakeHotkeyRegistrar.h"
#include "hotkey/fake/FakeKeyDownMonitor.h"
#include "settings/fake/MemorySettingsStorage.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

constexpr std::uint64_t kSuper = HotkeyModifiers::commandFlag;
constexpr std::uint64_t kShift = HotkeyModifiers::shiftFlag;
constexpr std::uint32_t kKeyK = 40;
constexpr std::uint32_t kKeyQ = 12;
const HotkeyCombo kSuperShiftK{kKeyK, {HotkeyModifiers::command | HotkeyModifiers::shift}};

struct Rig {
    explicit Rig(std::optional<std::string> stored = std::nullopt)
        : registrar(std::make_shared<FakeHotkeyRegistrar>()),
          storage(stored ? std::make_shared<MemorySettingsStorage>(*stored)
                         : std::make_shared<MemorySettingsStorage>()),
          controller(std::make_shared<HotkeyController>(registrar, storage)) {}

    // The shell's order: recorder built before start, the notice taken up after it.
    std::shared_ptr<HotkeyRecorderModel> makeAndStart() {
        auto model = HotkeyRecorderModel::create(controller, monitors.installer());
        model->setOnChange([this] { ++changes; });
        controller->start([] {});
        model->takeUpFallbackNotice();
        return model;
    }

    std::shared_ptr<FakeHotkeyRegistrar> registrar;
    std::shared_ptr<MemorySettingsStorage> storage;
    std::shared_ptr<HotkeyController> controller;
    FakeKeyDownMonitors monitors;
    int changes = 0;
};

TEST(HotkeyRecorderModel, EscCancelsAndRefusedKeysKeepRecordingUntilOneIsAccepted) {
    Rig rig;
    auto model = rig.makeAndStart();
    EXPECT_FALSE(model->isRecording());
    EXPECT_FALSE(model->message());

    model->startRecording();
    EXPECT_TRUE(model->isRecording());
    EXPECT_EQ(model->message(), "Press the new shortcut (Esc to cancel)");
    ASSERT_TRUE(rig.monitors.isInstalled());

    EXPECT_EQ(rig.monitors.send({escapeKeyCode, kSuper}), true); // swallowed
    EXPECT_FALSE(model->isRecording());
    EXPECT_FALSE(model->message());
    EXPECT_FALSE(rig.monitors.isInstalled());
    EXPECT_EQ(model->combo(), defaultCombo);
    EXPECT_EQ(rig.registrar->attempts.size(), 1U);
    EXPECT_EQ(rig.storage->saves, 0);

    // Refused keys keep recording until one is accepted.
    model->startRecording();

    EXPECT_EQ(rig.monitors.send({kKeyQ, kSuper}), true);
    EXPECT_EQ(model->message(), "That shortcut is used by the system. Try another.");
    EXPECT_TRUE(model->isRecording());
    EXPECT_TRUE(rig.monitors.isInstalled());

    EXPECT_EQ(rig.monitors.send({kKeyK, 0}), true);
    EXPECT_EQ(model->message(), "Use Super, Alt or Ctrl together with a key.");

    rig.registrar->heldByOthers = {{kKeyK, {HotkeyModifiers::command}}};
    EXPECT_EQ(rig.monitors.send({kKeyK, kSuper}), true);
    EXPECT_EQ(model->message(), "Another app already uses that shortcut. Try another.");
    EXPECT_EQ(model->combo(), defaultCombo);

    const int changesBefore = rig.changes;
    EXPECT_EQ(rig.monitors.send({kKeyK, kSuper | kShift}), true);
    EXPECT_FALSE(model->isRecording());
    EXPECT_FALSE(model->message());
    EXPECT_EQ(model->combo(), kSuperShiftK);
    EXPECT_FALSE(rig.monitors.isInstalled());
    EXPECT_GT(rig.changes, changesBefore);
    EXPECT_EQ(rig.storage->text(), R"({"keyCode":40,"modifiers":9})");
    EXPECT_TRUE(rig.registrar->press(kSuperShiftK));

    // The monitor is gone: the next key reaches the window.
    EXPECT_FALSE(rig.monitors.send({kKeyK, kSuper}).has_value());
}

TEST(HotkeyRecorderModel, ResetToDefaultAppliesTheDefaultAndLeavesRecordingAlone) {
    Rig rig;
    auto model = rig.makeAndStart();
    model->resetToDefault(); // already current and registered: nothing written
    EXPECT_EQ(rig.storage->saves, 0);
    EXPECT_FALSE(model->message());

    rig.controller->apply(kSuperShiftK);
    model->startRecording();
    model->resetToDefault();
    EXPECT_EQ(model->combo(), defaultCombo);
    EXPECT_TRUE(model->isRecording());
    EXPECT_FALSE(model->message());
    EXPECT_EQ(rig.storage->text(), R"({"keyCode":46,"modifiers":13})");

    model->stopRecording();
    rig.controller->unregister();
    rig.registrar->heldByOthers = {defaultCombo};
    model->resetToDefault();
    EXPECT_EQ(model->message(), "Another app already uses that shortcut. Try another.");
}

TEST(HotkeyRecorderModel, FallbackNoticeShowsTheRestoredDefaultUntilTheUserActs) {
    Rig rig(R"({"keyCode":40,"modifiers":9})");
    rig.registrar->heldByOthers = {kSuperShiftK};
    auto model = rig.makeAndStart();
    EXPECT_EQ(model->message(),
              "Your saved shortcut is used by another app, so the default was restored.");
    EXPECT_EQ(model->combo(), defaultCombo); // what is in force, not what was saved

    model->stopRecording(); // stopping leaves the message alone
    EXPECT_TRUE(model->message());
    model->startRecording();
    EXPECT_EQ(model->message(), "Press the new shortcut (Esc to cancel)");
}

TEST(HotkeyRecorderModel, WithoutAnyShortcutTheNoticeNamesTheRealProblem) {
    Rig taken; // the default was the saved shortcut and it is taken: nothing was restored
    taken.registrar->heldByOthers = {defaultCombo};
    EXPECT_EQ(taken.makeAndStart()->message(),
              "Another app already uses that shortcut. Try another.");

    Rig wayland;
    wayland.registrar->unavailable = true;
    auto model = wayland.makeAndStart();
    EXPECT_EQ(model->message(), HotkeyError(HotkeyError::Case::unavailable).message());
    model->startRecording();
    wayland.monitors.send({kKeyK, kSuper});
    EXPECT_EQ(model->message(), HotkeyError(HotkeyError::Case::unavailable).message());
    EXPECT_TRUE(model->isRecording());
}

TEST(HotkeyRecorderModel, ARefusedMonitorLeavesRecordingWithoutOneAndGoneModelsPassKeysOn) {
    Rig rig;
    auto model = rig.makeAndStart();
    rig.monitors.refuseInstalls(true);
    model->startRecording();
    EXPECT_TRUE(model->isRecording());
    EXPECT_FALSE(rig.monitors.isInstalled());

    rig.monitors.refuseInstalls(false);
    model->startRecording();
    EXPECT_TRUE(rig.monitors.isInstalled());
    EXPECT_EQ(rig.monitors.installs(), 1);

    model.reset();
    EXPECT_FALSE(rig.monitors.send({kKeyK, kSuper}).value_or(false));
}

} // namespace
} // namespace brindell
