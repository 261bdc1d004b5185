#include "hotkey/x11/X11HotkeyRegistrar.h"

#include "XvfbServer.h"
#include "hotkey/HotkeyController.h"
#include "settings/fake/MemorySettingsStorage.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdlib>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>

namespace brindell {
namespace {

using namespace std::chrono_literals;
using test::OtherClient;
using test::runOnDisplay;
using namespace test::x11mask;

constexpr HotkeyCombo kSuperShiftK{40, {HotkeyModifiers::command | HotkeyModifiers::shift}};

// Runs the registrar's fd watch from the test thread: poll, then the callback.
class PollLoop {
public:
    WatchFd watchFd() {
        return [this](int fd, std::function<void()> onReadable) -> std::unique_ptr<FdWatch> {
            fd_ = fd;
            onReadable_ = std::move(onReadable);
            return std::make_unique<Token>(*this);
        };
    }

    // Serves the watch until done() holds; false when the watchdog ran out first.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds watchdog = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + watchdog;
        while (!done()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !onReadable_) {
                return false;
            }
            pollfd pfd{fd_, POLLIN, 0};
            if (poll(&pfd, 1, static_cast<int>(left.count())) > 0) {
                onReadable_();
            }
        }
        return true;
    }

private:
    struct Token final : FdWatch {
        explicit Token(PollLoop& loop) : loop_(loop) {}
        ~Token() override { loop_.onReadable_ = nullptr; }
        PollLoop& loop_;
    };
    int fd_ = -1;
    std::function<void()> onReadable_;
};

class X11Hotkey : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(xvfb.display().empty()) << xvfb.error();
        registrar = std::make_shared<X11HotkeyRegistrar>(loop.watchFd(), xvfb.display());
        ASSERT_TRUE(registrar->isAvailable());
    }

    bool press(const std::string& keys) {
        return runOnDisplay(xvfb.display(), {"xdotool", "key", "--delay", "0", keys});
    }

    test::XvfbServer xvfb;
    PollLoop loop;
    std::shared_ptr<X11HotkeyRegistrar> registrar;
    int presses = 0;
};

TEST_F(X11Hotkey, TheDefaultShortcutSentWithXdotoolReachesTheHandler) {
    auto storage = std::make_shared<MemorySettingsStorage>();
    HotkeyController controller(registrar, storage);
    controller.start([this] { ++presses; });
    ASSERT_TRUE(controller.isRegistered());

    // A near miss first: X delivers in order, so once the real one has arrived the miss would
    // have been counted already.
    ASSERT_TRUE(press("ctrl+shift+m"));
    ASSERT_TRUE(press("ctrl+shift+super+m"));
    ASSERT_TRUE(loop.runUntil([&] { return presses >= 1; }));
    EXPECT_EQ(presses, 1);

    ASSERT_TRUE(press("ctrl+shift+super+m"));
    ASSERT_TRUE(loop.runUntil([&] { return presses >= 2; }));

    controller.unregister();
    registrar->registerCombo(kSuperShiftK, [this] { presses += 100; });
    ASSERT_TRUE(press("ctrl+shift+super+m"));
    ASSERT_TRUE(press("super+shift+k"));
    ASSERT_TRUE(loop.runUntil([&] { return presses >= 102; }));
    EXPECT_EQ(presses, 102);
}

TEST_F(X11Hotkey, TheShortcutFiresWithNumLockAndCapsLockOn) {
    registrar->registerCombo(defaultCombo, [this] { ++presses; });
    ASSERT_TRUE(press("Num_Lock"));
    ASSERT_TRUE(press("ctrl+shift+super+m"));
    ASSERT_TRUE(loop.runUntil([&] { return presses >= 1; }));
    ASSERT_TRUE(press("Caps_Lock"));
    ASSERT_TRUE(press("ctrl+shift+super+m"));
    ASSERT_TRUE(loop.runUntil([&] { return presses >= 2; }));
    ASSERT_TRUE(press("Num_Lock"));
    ASSERT_TRUE(press("ctrl+shift+super+m"));
    ASSERT_TRUE(loop.runUntil([&] { return presses >= 3; }));
}

TEST_F(X11Hotkey, ACombinationGrabbedByAnotherClientIsRefusedAndNothingIsLeftGrabbed) {
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
}

TEST_F(X11Hotkey, ARefusedNewShortcutLeavesTheOldOneWorking) {
    OtherClient other(xvfb.display());
    ASSERT_TRUE(other.grab("k", mod4 | shift));
    auto storage = std::make_shared<MemorySettingsStorage>();
    HotkeyController controller(registrar, storage);
    controller.start([this] { ++presses; });
    EXPECT_THROW(controller.apply(kSuperShiftK), HotkeyError);
    EXPECT_TRUE(controller.isRegistered());
    EXPECT_EQ(controller.combo(), defaultCombo);
    EXPECT_FALSE(storage->text());

    ASSERT_TRUE(press("ctrl+shift+super+m"));
    ASSERT_TRUE(loop.runUntil([&] { return presses >= 1; }));
}

TEST_F(X11Hotkey, UnregisterAndDestructionReleaseEveryGrab) {
    OtherClient other(xvfb.display());
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

TEST_F(X11Hotkey, TheQtWatchCallsTheHandlerOnTheMainThread) {
    // Same display, a registrar of its own driven by the Qt event loop as in the product.
    registrar.reset();
    auto qtRegistrar = std::make_shared<X11HotkeyRegistrar>(qtMainThreadFdWatch(), xvfb.display());
    QEventLoop eventLoop;
    std::thread::id handlerThread;
    qtRegistrar->registerCombo(defaultCombo, [&] {
        handlerThread = std::this_thread::get_id();
        ++presses;
        eventLoop.quit();
    });
    ASSERT_TRUE(press("ctrl+shift+super+m"));
    QTimer::singleShot(10s, &eventLoop, &QEventLoop::quit); // watchdog
    eventLoop.exec();
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
}

TEST(X11HotkeyWithoutDisplay, RegistrationFailsCleanlyAndTheProgramRunsWithoutAShortcut) {
    testing::ScopedEnvironment noDisplay{{"DISPLAY", std::nullopt}};
    {
        PollLoop loop;
        auto registrar = std::make_shared<X11HotkeyRegistrar>(loop.watchFd());
        EXPECT_FALSE(registrar->isAvailable());
        auto storage = std::make_shared<MemorySettingsStorage>(R"({"keyCode":40,"modifiers":9})");
        HotkeyController controller(registrar, storage);
        controller.start([] {});
        EXPECT_FALSE(controller.isRegistered());
        EXPECT_EQ(controller.lastProblem(), HotkeyError(HotkeyError::Case::unavailable));
        EXPECT_EQ(storage->text(), R"({"keyCode":40,"modifiers":9})");
        controller.unregister();
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
