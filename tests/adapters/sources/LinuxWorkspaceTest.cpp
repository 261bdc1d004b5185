#include "sources/linux/LinuxWorkspace.h"

#include "unit/sources/TempTree.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QProcess>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace brindell {
namespace {

using namespace std::chrono_literals;
using testing::TempTree;

// Runs the event loop until the condition holds or the watchdog expires.
template <typename Predicate>
bool processEventsUntil(Predicate predicate, std::chrono::milliseconds limit = 10s) {
    QDeadlineTimer deadline(limit);
    while (!predicate()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A private session bus for one test, stopped at the end.
class PrivateBus {
public:
    explicit PrivateBus(const TempTree& tree) {
        daemon_.setProgram(QStringLiteral("dbus-daemon"));
        daemon_.setArguments(
            {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
             QStringLiteral("--print-address=1"),
             QStringLiteral("--address=unix:path=") + QString::fromStdString(tree.path("bus"))});
        daemon_.start();
        if (!daemon_.waitForStarted(10000)) {
            return;
        }
        QDeadlineTimer deadline(10s);
        while (!daemon_.canReadLine() && !deadline.hasExpired()) {
            daemon_.waitForReadyRead(100);
        }
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed().toStdString();
    }
    ~PrivateBus() {
        daemon_.terminate();
        if (!daemon_.waitForFinished(5000)) {
            daemon_.kill();
            daemon_.waitForFinished(5000);
        }
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }

private:
    QProcess daemon_;
    std::string address_;
};

XdgWorkspace::Options isolated(const TempTree& tree) {
    XdgWorkspace::Options options;
    options.dataDirs = {tree.path("share")};
    options.searchPath = {tree.path("bin")};
    return options;
}

TEST(LinuxWorkspace, HearsTheEndOfASleepFromLogind) {
    TempTree tree;
    PrivateBus bus(tree);
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

TEST(LinuxWorkspace, WithoutABusThereIsNoWakeAndNoError) {
    TempTree tree;
    LinuxWorkspace workspace({isolated(tree), "unix:path=" + tree.path("no-bus-here")});
    EXPECT_FALSE(workspace.listensForWake());
    auto observation = workspace.observeWake([] {});
    EXPECT_EQ(workspace.parentPID(::getpid()), ::getppid());
}

TEST(LinuxWorkspace, StartsTheSoundSettingsProgram) {
    TempTree tree;
    LinuxWorkspace workspace({isolated(tree), "unix:path=" + tree.path("no-bus-here")});
    EXPECT_FALSE(workspace.openSoundSettings()); // nothing installed

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
