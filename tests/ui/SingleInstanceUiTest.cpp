#include "UiTestSupport.h"
#include "shell/SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QVariantMap>
#include <atomic>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace brindell {
namespace {

using testing::SessionBus;
using testing::waitFor;

// Owns the name like a hung Brindell: it takes Activate and never answers.
class SilentOwner : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    int calls = 0;

public slots:
    void Activate(const QVariantMap& platformData) {
        Q_UNUSED(platformData);
        ++calls;
        setDelayedReply(true);
    }
};

// A later launch on a connection and thread of its own (the owner answers, or not, from this
// thread's event loop): its role and problem.
struct LaterLaunch {
    SingleInstance::Role role = SingleInstance::Role::primary;
    std::string problem;
};

LaterLaunch launchAgain(const QString& address,
                        int answerTimeoutMs = SingleInstance::defaultAnswerTimeoutMs) {
    LaterLaunch result;
    std::atomic<bool> done{false};
    std::thread later([&] {
        {
            testing::BusConnection connection(address, "later");
            SingleInstance instance(connection, nullptr, answerTimeoutMs);
            result.role = instance.claim();
            result.problem = instance.problem().toStdString();
        }
        done = true;
    });
    waitFor([&] { return done.load(); }, 20000);
    later.join();
    return result;
}

TEST(SingleInstance, ALaunchTheOwnerDoesNotAnswerExitsAndWithoutABusOneRunsAlone) {
    SessionBus bus;
    testing::BusConnection owner(bus.address(), "silent");
    SilentOwner silent;
    ASSERT_TRUE(
        owner.registerObject(SingleInstance::objectPath, &silent, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(owner.registerService(SingleInstance::serviceName));

    const LaterLaunch hung = launchAgain(bus.address(), 300);
    EXPECT_EQ(hung.role, SingleInstance::Role::unanswered);
    EXPECT_THAT(hung.problem, ::testing::HasSubstr("(process " + std::to_string(getpid()) +
                                                   ") but did not answer within 0.3 s"));
    EXPECT_EQ(silent.calls, 1) << "no second wait for an owner that is still there";

    // An owner that answers with an error holds the name just the same.
    owner.unregisterObject(SingleInstance::objectPath);
    const LaterLaunch refused = launchAgain(bus.address(), 300);
    EXPECT_EQ(refused.role, SingleInstance::Role::unanswered);
    EXPECT_THAT(refused.problem, ::testing::HasSubstr("refused to come forward"));
    EXPECT_TRUE(owner.interface()->isServiceRegistered(SingleInstance::serviceName));

    // Without a session bus it runs alone.
    testing::BusConnection none(QStringLiteral("unix:path=/nonexistent/brindell-test-bus"), "none");
    SingleInstance alone(none);
    EXPECT_EQ(alone.claim(), SingleInstance::Role::standalone);
}

} // namespace
} // namespace brindell

#include "SingleInstanceUiTest.moc"
