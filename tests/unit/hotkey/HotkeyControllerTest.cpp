#include "hotkey/HotkeyController.h"

#include "hotkey/fake/FakeHotkeyRegistrar.h"
#include "settings/fake/MemorySettingsStorage.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace brindell {
namespace {

constexpr std::uint8_t kCmd = HotkeyModifiers::command;
constexpr std::uint8_t kOpt = HotkeyModifiers::option;
constexpr std::uint8_t kCtrl = HotkeyModifiers::control;
constexpr std::uint8_t kShift = HotkeyModifiers::shift;

constexpr HotkeyCombo kCmdShiftK{40, {kCmd | kShift}};
constexpr HotkeyCombo kCtrlOptM{46, {kCtrl | kOpt}};
const std::string kDefaultText = R"({"keyCode":46,"modifiers":13})";
const std::string kCmdShiftKText = R"({"keyCode":40,"modifiers":9})";

struct Rig {
    explicit Rig(std::optional<std::string> stored = std::nullopt)
        : registrar(std::make_shared<FakeHotkeyRegistrar>()),
          storage(stored ? std::make_shared<MemorySettingsStorage>(*stored)
                         : std::make_shared<MemorySettingsStorage>()) {}

    HotkeyController& make() {
        controller.emplace(registrar, storage);
        return *controller;
    }
    void start() {
        controller->start([this] { ++presses; });
    }
    HotkeyError::Case applyError(const HotkeyCombo& combo) {
        try {
            controller->apply(combo);
        } catch (const HotkeyError& e) {
            return e.errorCase();
        }
        ADD_FAILURE() << "apply succeeded";
        return HotkeyError::Case::unavailable;
    }

    std::shared_ptr<FakeHotkeyRegistrar> registrar;
    std::shared_ptr<MemorySettingsStorage> storage;
    std::optional<HotkeyController> controller;
    int presses = 0;
};

TEST(HotkeyController, LoadKeepsValidStoredShortcutsAndFallsBackOnAnythingElse) {
    EXPECT_EQ(Rig().make().combo(), defaultCombo);
    EXPECT_EQ(Rig(R"({"keyCode":49,"modifiers":1})").make().combo(), defaultCombo);  // Super+Space
    EXPECT_EQ(Rig(R"({"keyCode":46,"modifiers":8})").make().combo(), defaultCombo);  // Shift only
    EXPECT_EQ(Rig(R"({"keyCode":105,"modifiers":1})").make().combo(), defaultCombo); // no name
    EXPECT_EQ(Rig("{broken").make().combo(), defaultCombo);
    // Ctrl+Alt is refused for new shortcuts only; a stored one stays.
    EXPECT_EQ(Rig(R"({"keyCode":46,"modifiers":6})").make().combo(), kCtrlOptM);
    EXPECT_EQ(Rig(kCmdShiftKText).make().combo(), kCmdShiftK);
}

TEST(HotkeyController, StartRegistersAndTheHandlerRunsOnPressWithoutWritingAnything) {
    Rig rig;
    auto& controller = rig.make();
    EXPECT_FALSE(controller.isRegistered()); // not before start
    EXPECT_FALSE(rig.registrar->registered);
    EXPECT_FALSE(controller.lastProblem());
    rig.start();
    EXPECT_TRUE(controller.isRegistered());
    EXPECT_TRUE(rig.registrar->press(defaultCombo));
    EXPECT_EQ(rig.presses, 1);
    EXPECT_EQ(rig.storage->saves, 0);
    EXPECT_FALSE(rig.storage->text());

    controller.unregister();
    EXPECT_FALSE(controller.isRegistered());
    EXPECT_FALSE(rig.registrar->press(defaultCombo));
    EXPECT_EQ(rig.presses, 1);
}

TEST(HotkeyController, StartFallsBackToTheDefaultAndRewritesTheStoredShortcut) {
    Rig rig(kCmdShiftKText);
    rig.registrar->heldByOthers = {kCmdShiftK};
    auto& controller = rig.make();
    rig.start();

    EXPECT_EQ(controller.combo(), defaultCombo);
    EXPECT_TRUE(controller.isRegistered());
    ASSERT_TRUE(controller.lastProblem());
    EXPECT_EQ(controller.lastProblem()->errorCase(), HotkeyError::Case::inUse);
    EXPECT_EQ(rig.storage->text(), kDefaultText);
    EXPECT_TRUE(rig.registrar->press(defaultCombo));
    EXPECT_EQ(rig.presses, 1);

    // The next successful change clears the problem.
    controller.apply({40, {kCmd | kOpt}});
    EXPECT_FALSE(controller.lastProblem());
}

TEST(HotkeyController, StartWithoutAnyUsableShortcutRunsWithoutOneAndKeepsTheStoredOne) {
    {
        Rig rig(kCmdShiftKText); // both taken
        rig.registrar->heldByOthers = {kCmdShiftK, defaultCombo};
        auto& controller = rig.make();
        rig.start();
        EXPECT_FALSE(controller.isRegistered());
        EXPECT_EQ(controller.lastProblem(), HotkeyError(HotkeyError::Case::inUse));
        EXPECT_EQ(controller.combo(), kCmdShiftK);
        EXPECT_EQ(rig.storage->text(), kCmdShiftKText);
    }
    {
        Rig rig(kCmdShiftKText); // no X11 display: the user's choice survives for the next session
        rig.registrar->unavailable = true;
        auto& controller = rig.make();
        rig.start();
        EXPECT_FALSE(controller.isRegistered());
        EXPECT_EQ(controller.lastProblem(), HotkeyError(HotkeyError::Case::unavailable));
        EXPECT_EQ(rig.storage->text(), kCmdShiftKText);
        EXPECT_EQ(rig.applyError(defaultCombo), HotkeyError::Case::unavailable);
    }
}

TEST(HotkeyController, ApplyChecksRulesInOrderBeforeAskingTheRegistrar) {
    Rig rig;
    rig.make();
    rig.start();
    using Case = HotkeyError::Case;
    // Each candidate breaks a later rule too; the earliest one must be reported.
    EXPECT_EQ(rig.applyError({40, {kShift}}), Case::needsModifier);
    EXPECT_EQ(rig.applyError({105, {kCmd}}), Case::needsModifier);       // F13: not in the table
    EXPECT_EQ(rig.applyError({53, {kCmd | kOpt}}), Case::needsModifier); // reserved, but Esc
    EXPECT_EQ(rig.applyError({105, {kCtrl | kOpt}}), Case::needsModifier);
    EXPECT_EQ(rig.applyError({12, {kCmd}}), Case::reservedBySystem);
    EXPECT_EQ(rig.applyError({49, {kCtrl}}), Case::reservedBySystem);
    rig.registrar->heldByOthers = {{40, {kCtrl | kOpt}}};
    EXPECT_EQ(rig.applyError({40, {kCtrl | kOpt}}), Case::voiceOverModifier);

    // None of them reached the registrar or the storage; the default still works.
    EXPECT_EQ(rig.registrar->attempts.size(), 1U);
    EXPECT_EQ(rig.storage->saves, 0);
    EXPECT_TRUE(rig.registrar->press(defaultCombo));

    // Not reserved: only exact matches are.
    rig.controller->apply({12, {kCmd | kShift}});
    EXPECT_EQ(rig.storage->text(), R"({"keyCode":12,"modifiers":9})");
}

TEST(HotkeyController, ARefusedNewShortcutLeavesTheOldOneWorkingAndStored) {
    Rig rig(kCmdShiftKText);
    auto& controller = rig.make();
    rig.start();
    const HotkeyCombo taken{17, {kCmd | kOpt}};
    rig.registrar->heldByOthers = {taken};

    EXPECT_EQ(rig.applyError(taken), HotkeyError::Case::inUse);
    EXPECT_EQ(controller.combo(), kCmdShiftK);
    EXPECT_TRUE(controller.isRegistered());
    EXPECT_EQ(rig.storage->text(), kCmdShiftKText);
    EXPECT_EQ(rig.storage->saves, 0);
    EXPECT_EQ(rig.registrar->attempts, (std::vector<HotkeyCombo>{kCmdShiftK, taken, kCmdShiftK}));
    EXPECT_TRUE(rig.registrar->press(kCmdShiftK));
    EXPECT_EQ(rig.presses, 1);
}

TEST(HotkeyController, WhenTheOldShortcutCannotBeRestoredItIsNotReportedAsRegistered) {
    Rig rig;
    auto& controller = rig.make();
    rig.start();
    // Another app grabs the default while ours is briefly released.
    rig.registrar->onAttempt = [&](const HotkeyCombo& combo) {
        if (combo == kCmdShiftK) {
            rig.registrar->heldByOthers = {kCmdShiftK, defaultCombo};
        }
    };
    EXPECT_EQ(rig.applyError(kCmdShiftK), HotkeyError::Case::inUse);
    EXPECT_FALSE(controller.isRegistered());
    EXPECT_EQ(controller.combo(), defaultCombo);

    rig.registrar->heldByOthers.clear();
    controller.apply(defaultCombo); // retried, not skipped as already in force
    EXPECT_TRUE(controller.isRegistered());
    EXPECT_TRUE(rig.registrar->press(defaultCombo));
}

TEST(HotkeyController, OtherRegistrarFailuresReadAsInUseAndStorageFailuresAreIgnored) {
    Rig broken;
    broken.registrar->onAttempt = [](const HotkeyCombo&) {
        throw std::runtime_error("connection lost");
    };
    broken.make();
    broken.start();
    EXPECT_EQ(broken.controller->lastProblem(), HotkeyError(HotkeyError::Case::inUse));
    EXPECT_EQ(broken.applyError(kCmdShiftK), HotkeyError::Case::inUse);

    Rig rig;
    rig.storage->failWrites = true;
    auto& controller = rig.make();
    rig.start();
    controller.apply(kCmdShiftK);
    EXPECT_EQ(controller.combo(), kCmdShiftK);
    EXPECT_EQ(rig.storage->saves, 1);
    EXPECT_TRUE(rig.registrar->press(kCmdShiftK));
}

} // namespace
} // namespace brindell
