#include "sources/linux/LinuxWorkspace.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace brindell {
namespace {

using testing::PrivateBus;
using testing::TempFolder;

// Runs the event loop until the condition holds or the watchdog expires.
bool processEventsUntil(const std::function<bool()>& condition) {
    return testing::waitUntil([&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return condition();
    });
}

XdgWorkspace::Options isolated(const TempFolder& tree) {
    XdgWorkspace::Options options;
    options.dataDirs = {tree.path("share")};
    options.searchPath = {tree.path("bin")};
    return options;
}

TEST(LinuxWorkspace, HearsTheEndOfASleepFromLogind) {
    TempFolder tree;
    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";

    LinuxWorkspace workspace({isolated(tree), bus.address()});
    ASSERT_TRUE(workspace.listensForWake());
    int wakes = 0;
    auto observation = workspace.observeWake([&] { ++wakes; });

    {
        // A stand-in for logind on the private bus.
        QDBusConnection logind =
            QDBusConnection::connectToBus(QString::fromStdString(bus.address()), "logind");
        ASSERT_TRUE(logind.isConnected());
        ASSERT_TRUE(logind.registerService(QStringLiteral("org.freedesktop.login1")));
        const auto sleep = [&](bool starting) {
            QDBusMessage message =
                QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                           QStringLiteral("org.freedesktop.login1.Manager"),
                                           QStringLiteral("PrepareForSleep"));
            message << starting;
            return logind.send(message);
        };
        ASSERT_TRUE(sleep(true)); // going to sleep is no wake
        ASSERT_TRUE(sleep(false));
        EXPECT_TRUE(processEventsUntil([&] { return wakes > 0; }));
        EXPECT_EQ(wakes, 1); // signals arrive in order, so the first one was ignored

        // A removed observer hears nothing more.
        observation.reset();
        int later = 0;
        auto second = workspace.observeWake([&] { ++later; });
        ASSERT_TRUE(sleep(false));
        EXPECT_TRUE(processEventsUntil([&] { return later > 0; }));
        EXPECT_EQ(wakes, 1);
    }
    QDBusConnection::disconnectFromBus("logind");
}

TEST(LinuxWorkspace, WithoutABusThereIsNoWakeAndNoErrorAndItStartsTheSoundSettings) {
    TempFolder tree;
    std::unique_ptr<WakeObservation> observation; // outliving the workspace is harmless
    LinuxWorkspace workspace({isolated(tree), "unix:path=" + tree.path("no-bus-here")});
    EXPECT_FALSE(workspace.listensForWake());
    observation = workspace.observeWake([] {});
    EXPECT_EQ(workspace.parentPID(::getpid()), ::getppid());

    // It starts the sound settings program, once there is one.
    EXPECT_FALSE(workspace.openSoundSettings());

    const std::string marker = tree.path("launched");
    tree.write("bin/systemsettings",
               "#!/bin/sh\necho \"$@\" > '" + marker + ".tmp'\nmv '" + marker + ".tmp' '" + marker +
                   "'\n",
               std::filesystem::perms::owner_all);
    ASSERT_TRUE(workspace.openSoundSettings());
    ASSERT_TRUE(processEventsUntil([&] { return std::filesystem::exists(marker); }));
    std::ifstream file(marker);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), "kcm_pulseaudio\n");
}

} // namespace
} // namespace brindell

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
