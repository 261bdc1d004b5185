#include "hotkey/x11/X11HotkeyRegistrar.h"

#include "XvfbServer.h"
#include "hotkey/HotkeyController.h"
#include "settings/fake/MemorySettingsStorage.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <gtest/gtest.h>
#include <thread>

namespace brindell {
namespace {

using namespace std::chrono_literals;
using test::OtherClient;
using test::runOnDisplay;
using namespace test::x11mask;

constexpr HotkeyCombo kSuperShiftK{40, {HotkeyModifiers::command | HotkeyModifiers::shift}};

// Serves the registrar's Qt fd watch, as the product's event loop does, until done() holds;
// false when the watchdog ran out first.
bool runUntil(const std::function<bool()>& done) {
    return testing::waitUntil(
        [&] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            return done();
        },
        10s, 1ms);
}

class X11Hotkey : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(xvfb.display().empty()) << xvfb.error();
        registrar = std::make_shared<X11HotkeyRegistrar>(qtMainThreadFdWatch(), xvfb.display());
        ASSERT_TRUE(registrar->isAvailable());
    }

    bool press(const std::string& keys) {
        return runOnDisplay(xvfb.display(), {"xdotool", "key", "--delay", "0", keys});
    }

    test::XvfbServer xvfb;
    std::shared_ptr<X11HotkeyRegistrar> registrar;
    int presses = 0;
};

TEST_F(X11Hotkey, TheDefaultShortcutReachesTheHandlerOnTheMainThreadWhateverTheLocks) {
    HotkeyController controller(registrar, std::make_shared<MemorySettingsStorage>());
    std::thread::id handlerThread;
    controller.start([&] {
        handlerThread = std::this_thread::get_id();
        ++presses;
    });
    ASSERT_TRUE(controller.isRegistered());

    // A near miss first: X delivers in order, so once the real one has arrived the miss would
    // have been counted already.
    ASSERT_TRUE(press("ctrl+shift+m"));
    ASSERT_TRUE(press("ctrl+shift+super+m"));
    ASSERT_TRUE(runUntil([&] { return presses >= 1; }));
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(handlerThread, std::this_thread::get_id());

    // It fires with NumLock, both locks and CapsLock on too.
    for (const char* lock : {"Num_Lock", "Caps_Lock", "Num_Lock"}) {
        const int before = presses;
        ASSERT_TRUE(press(lock));
        ASSERT_TRUE(press("ctrl+shift+super+m"));
        ASSERT_TRUE(runUntil([&] { return presses > before; })) << lock;
    }
    ASSERT_TRUE(press("Caps_Lock"));

    controller.unregister();
    registrar->registerCombo(kSuperShiftK, [this] { presses += 100; });
    ASSERT_TRUE(press("ctrl+shift+super+m"));
    ASSERT_TRUE(press("super+shift+k"));
    ASSERT_TRUE(runUntil([&] { return presses >= 104; }));
    EXPECT_EQ(presses, 104);
}

TEST_F(X11Hotkey, AGrabbedCombinationIsRefusedAndNothingIsLeftGrabbedOrKeptAfterUnregistering) {
    OtherClient other(xvfb.display());
    ASSERT_TRUE(other.connected());
    // The rival holds only the NumLock variant, so some of ours succeed before one fails.
    ASSERT_TRUE(other.grab("k", mod4 | shift | mod2));
    try {
        registrar->registerCombo(kSuperShiftK, [this] { ++presses; });
        FAIL() << "registration succeeded";
    } catch (const HotkeyError& e) {
        EXPECT_EQ(e.errorCase(), HotkeyError::Case::inUse);
    }
    OtherClient third(xvfb.display());
    EXPECT_TRUE(third.grab("k", mod4 | shift));
    EXPECT_TRUE(third.grab("k", mod4 | shift | lock));

    // Unregistering and destruction release every grab.
    registrar->registerCombo(defaultCombo, [] {});
    const unsigned int mods = control | shift | mod4;
    EXPECT_FALSE(other.grab("m", mods));
    EXPECT_FALSE(other.grab("m", mods | lock | mod2));

    registrar->unregister();
    EXPECT_TRUE(other.grab("m", mods | lock | mod2));
    other.ungrab("m", mods | lock | mod2);

    registrar->registerCombo(defaultCombo, [] {});
    EXPECT_FALSE(other.grab("m", mods | mod2));
    registrar.reset();
    EXPECT_TRUE(other.grab("m", mods));
    EXPECT_TRUE(other.grab("m", mods | mod2));
}

TEST(X11HotkeyWithoutDisplay, RegistrationFailsCleanlyAndTheProgramRunsWithoutAShortcut) {
    testing::ScopedEnvironment noDisplay{{"DISPLAY", std::nullopt}};
    {
        auto registrar = std::make_shared<X11HotkeyRegistrar>(qtMainThreadFdWatch());
        EXPECT_FALSE(registrar->isAvailable());
        HotkeyController controller(registrar, std::make_shared<MemorySettingsStorage>());
        controller.start([] {});
        EXPECT_FALSE(controller.isRegistered());
        EXPECT_EQ(controller.lastProblem(), HotkeyError(HotkeyError::Case::unavailable));
    }
}

} // namespace
} // namespace brindell

int main(int argc, char** argv) {
    // No display is needed for the core application object; each test brings its own Xvfb.
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
