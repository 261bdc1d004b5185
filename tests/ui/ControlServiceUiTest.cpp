#include "UiTestSupport.h"
#include "mixer/PreviewContent.h"
#include "shell/ControlBus.h"
#include "shell/ControlService.h"
#include "shell/SingleInstance.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>
#include <tuple>

namespace brindell {
namespace {

using testing::PreviewMixer;
using testing::SessionBus;
using testing::settle;
using testing::waitFor;

// Counts the service's Changed signals as a bus client hears them.
class ChangedCounter : public QObject {
    Q_OBJECT
public:
    int count = 0;
public slots:
    void onChanged() { ++count; }
};

// The service as the running Brindell exports it: on the object that answers
// org.freedesktop.Application, on a private bus, over the preview engine and the real view
// model. The test talks to it from a second connection, as `brindell ctl` would.
class ControlServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.isConnected() && client.isConnected());
        instance = std::make_unique<SingleInstance>(server);
        instance->onActivate = [this] { actions.push_back("activate"); };
        ASSERT_EQ(instance->claim(), SingleInstance::Role::primary);
        ControlActions hooks;
        hooks.togglePanel = [this] { actions.push_back("toggle"); };
        hooks.showPanel = [this] { actions.push_back("show"); };
        hooks.openSettings = [this] { actions.push_back("settings"); };
        service = std::make_unique<ControlService>(*instance, server, *mixer.model, mixer.mainQueue,
                                                   std::move(hooks));
        controlbus::registerTypes();
    }

    void TearDown() override {
        service.reset();
        instance.reset();
        settle();
    }

    // One call from the client connection, answered by this thread's event loop.
    QDBusMessage call(const QString& method, const QList<QVariant>& arguments = {},
                      const QString& interface = QString::fromLatin1(controlbus::interfaceName)) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QString::fromLatin1(controlbus::serviceName),
            QString::fromLatin1(controlbus::objectPath), interface, method);
        message.setArguments(arguments);
        QDBusPendingCall pending = client.asyncCall(message, 10000);
        EXPECT_TRUE(waitFor([&] { return pending.isFinished(); }, 15000)) << method.toStdString();
        return pending.reply();
    }

    // The call's error name; empty when it succeeded.
    QString errorOf(const QString& method, const QList<QVariant>& arguments = {}) {
        const QDBusMessage reply = call(method, arguments);
        return reply.type() == QDBusMessage::ErrorMessage ? reply.errorName() : QString();
    }

    SessionBus bus;
    PreviewMixer mixer;
    testing::BusConnection server{bus.address(), QStringLiteral("control-server")};
    testing::BusConnection client{bus.address(), QStringLiteral("control-client")};
    std::unique_ptr<SingleInstance> instance;
    std::unique_ptr<ControlService> service;
    std::vector<std::string> actions;
};

TEST_F(ControlServiceTest, BadArgumentsAndMissingControlsGetAClearErrorAndChangeNothing) {
    const MixerSnapshot before = mixer.engine->current();
    const QString pid = QStringLiteral("1");
    const QString none;
    const std::vector<std::tuple<const char*, QList<QVariant>, const char*>> refusals = {
        {"SetVolume", {pid, 1.5}, controlbus::invalidArgs},
        {"SetVolume", {pid, std::nan("")}, controlbus::invalidArgs},
        {"SetVolume", {QStringLiteral("77"), 0.5}, controlbus::noSuchApp},
        {"SetMuted", {QStringLiteral("org.nothing"), true}, controlbus::noSuchApp},
        {"AdjustVolume", {pid, -3.0}, controlbus::invalidArgs},
        {"SetOutput", {pid, QStringLiteral("usb")}, controlbus::noSuchOutput},
        {"SetDefaultOutput", {none}, controlbus::invalidArgs},
        {"SetMasterVolume", {-0.1}, controlbus::invalidArgs},
        {"Forget", {none}, controlbus::invalidArgs},
    };
    for (const auto& [method, arguments, name] : refusals) {
        const QDBusMessage reply = call(QString::fromLatin1(method), arguments);
        EXPECT_EQ(reply.errorName(), QString::fromLatin1(name)) << method;
        EXPECT_FALSE(reply.errorMessage().isEmpty()) << method;
    }
    // Wrong argument types never reach the service.
    EXPECT_FALSE(errorOf(QStringLiteral("SetVolume"), {1, QStringLiteral("loud")}).isEmpty());
    settle();
    EXPECT_EQ(mixer.engine->current(), before);
    EXPECT_EQ(mixer.model->rows.get(), before.rows);

    // A master without controls says so.
    mixer.engine->publish(previewSnapshot(PreviewState::fixedVolume, 0));
    settle();
    EXPECT_EQ(errorOf(QStringLiteral("SetMasterVolume"), {0.5}), controlbus::notSupported);
    EXPECT_EQ(errorOf(QStringLiteral("ToggleMasterMuted")), controlbus::notSupported);
    const auto master = controlbus::masterFromBus(
        qdbus_cast<QVariantMap>(call(QStringLiteral("GetMaster")).arguments().front()));
    ASSERT_TRUE(master);
    EXPECT_EQ(master->volume, std::nullopt);
    EXPECT_EQ(master->muted, std::nullopt);
}

TEST_F(ControlServiceTest, PanelActionsAndActivateShareTheObjectWhichAnswersAfterTheServiceGoes) {
    call(QStringLiteral("TogglePanel"));
    call(QStringLiteral("ShowPanel"));
    call(QStringLiteral("OpenSettings"));
    const QDBusMessage activate = call(QStringLiteral("Activate"), {QVariantMap()},
                                       QStringLiteral("org.freedesktop.Application"));
    EXPECT_EQ(activate.type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(actions, (std::vector<std::string>{"toggle", "show", "settings", "activate"}));

    // Both interfaces are introspectable on the one object.
    const QDBusMessage xml = call(QStringLiteral("Introspect"), {},
                                  QStringLiteral("org.freedesktop.DBus.Introspectable"));
    const QString text = xml.arguments().value(0).toString();
    EXPECT_TRUE(text.contains(QStringLiteral("com.quorvel.taskor.brindell.Mixer")));
    EXPECT_TRUE(text.contains(QStringLiteral("org.freedesktop.Application")));
    EXPECT_TRUE(text.contains(QStringLiteral("a(issdbssb)"))) << text.toStdString();

    // Once the service is gone its calls are refused, and the hand-over still answers.
    service.reset();
    EXPECT_EQ(errorOf(QStringLiteral("ListApps")), controlbus::unavailable);
    EXPECT_EQ(call(QStringLiteral("Activate"), {QVariantMap()},
                   QStringLiteral("org.freedesktop.Application"))
                  .type(),
              QDBusMessage::ReplyMessage);
}

TEST_F(ControlServiceTest, ChangedFollowsEngineChangesAndIsCoalesced) {
    ChangedCounter counter;
    ASSERT_TRUE(client.connect(QString::fromLatin1(controlbus::serviceName),
                               QString::fromLatin1(controlbus::objectPath),
                               QString::fromLatin1(controlbus::interfaceName),
                               QStringLiteral("Changed"), &counter, SLOT(onChanged())));
    // A change on the audio side, not through the bus.
    mixer.engineChangesRow(2, [](MixerRow& row) { row.isActive = false; });
    ASSERT_TRUE(waitFor([&] { return counter.count >= 1; }));

    // A burst of fifty changes folds into a few signals (the rate is ChangeThrottle's).
    counter.count = 0;
    for (int i = 0; i < 50; ++i) {
        mixer.engine->setVolume(1, static_cast<float>(i) / 50.0f);
    }
    QTest::qWait(300);
    EXPECT_GE(counter.count, 1);
    EXPECT_LE(counter.count, 3);
}

} // namespace
} // namespace brindell

#include "ControlServiceUiTest.moc"
