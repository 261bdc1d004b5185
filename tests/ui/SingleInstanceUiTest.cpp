#include "UiTestSupport.h"
#include "shell/SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace brindell {
namespace {

using testing::PrivateBus;
using testing::waitFor;

TEST(SingleInstance, ASecondLaunchHandsOverToTheFirst) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    QDBusConnection first = QDBusConnection::connectToBus(bus.address(), "first");
    ASSERT_TRUE(first.isConnected());

    SingleInstance primary(first);
    int activations = 0;
    primary.onActivate = [&] { ++activations; };
    ASSERT_EQ(primary.claim(), SingleInstance::Role::primary);
    EXPECT_TRUE(first.interface()->isServiceRegistered("com.quorvel.taskor.brindell"));

    // The second launch, on a connection of its own, waits for the first to answer; the
    // first answers from this thread's event loop.
    std::atomic<bool> done{false};
    std::atomic<int> role{-1};
    std::thread second([&] {
        QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), "second");
        {
            SingleInstance later(connection);
            role = static_cast<int>(later.claim());
        }
        QDBusConnection::disconnectFromBus("second");
        done = true;
    });
    const bool finished = waitFor([&] { return done.load(); }, 20000);
    second.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(role.load(), static_cast<int>(SingleInstance::Role::handedOver));
    EXPECT_EQ(activations, 1);
    QDBusConnection::disconnectFromBus("first");
}

TEST(SingleInstance, TheNameIsFreeAgainAfterTheFirstQuits) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty());
    QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), "owner");
    {
        SingleInstance primary(connection);
        ASSERT_EQ(primary.claim(), SingleInstance::Role::primary);
    }
    EXPECT_FALSE(connection.interface()->isServiceRegistered("com.quorvel.taskor.brindell"));
    SingleInstance next(connection);
    EXPECT_EQ(next.claim(), SingleInstance::Role::primary);
    QDBusConnection::disconnectFromBus("owner");
}

TEST(SingleInstance, WithoutASessionBusItRunsAlone) {
    QDBusConnection none = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/brindell-test-bus"), "none");
    SingleInstance alone(none);
    EXPECT_EQ(alone.claim(), SingleInstance::Role::standalone);
    QDBusConnection::disconnectFromBus("none");
}

} // namespace
} // namespace brindell
