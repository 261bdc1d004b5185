#include "UiTestSupport.h"
#include "mixer/PreviewContent.h"
#include "shell/ControlBus.h"
#include "shell/ControlService.h"
#include "shell/SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <QTest>
#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>

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
    explicit ControlServiceTest(PreviewState state = PreviewState::canned)
        : mixer(previewSnapshot(state, 0)) {}

    void SetUp() override {
        ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
        server = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("control-server")));
        client = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("control-client")));
        ASSERT_TRUE(server->isConnected());
        ASSERT_TRUE(client->isConnected());
        instance = std::make_unique<SingleInstance>(*server);
        instance->onActivate = [this] { actions.push_back("activate"); };
        ASSERT_EQ(instance->claim(), SingleInstance::Role::primary);
        ControlActions hooks;
        hooks.togglePanel = [this] { actions.push_back("toggle"); };
        hooks.showPanel = [this] { actions.push_back("show"); };
        hooks.openSettings = [this] { actions.push_back("settings"); };
        service = std::make_unique<ControlService>(*instance, *server, *mixer.model,
                                                   mixer.mainQueue, std::move(hooks));
        controlbus::registerTypes();
    }

    void TearDown() override {
        service.reset();
        instance.reset();
        server.reset();
        client.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("control-server"));
        QDBusConnection::disconnectFromBus(QStringLiteral("control-client"));
        settle();
    }

    // One call from the client connection, answered by this thread's event loop.
    QDBusMessage call(const QString& method, const QList<QVariant>& arguments = {},
                      const QString& interface = QString::fromLatin1(controlbus::interfaceName)) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QString::fromLatin1(controlbus::serviceName),
            QString::fromLatin1(controlbus::objectPath), interface, method);
        message.setArguments(arguments);
        QDBusPendingCall pending = client->asyncCall(message, 10000);
        EXPECT_TRUE(waitFor([&] { return pending.isFinished(); }, 15000)) << method.toStdString();
        return pending.reply();
    }

    // The call's error name; empty when it succeeded.
    QString errorOf(const QString& method, const QList<QVariant>& arguments = {}) {
        const QDBusMessage reply = call(method, arguments);
        return reply.type() == QDBusMessage::ErrorMessage ? reply.errorName() : QString();
    }

    std::vector<ControlApp> listApps() {
        const QDBusMessage reply = call(QStringLiteral("ListApps"));
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        std::vector<ControlApp> apps;
        if (reply.arguments().isEmpty()) {
            return apps;
        }
        for (const auto& app : qdbus_cast<QList<controlbus::App>>(reply.arguments().front())) {
            apps.push_back(controlbus::fromBus(app));
        }
        return apps;
    }

    const MixerRow& engineRow(pid_type pid) {
        for (const auto& row : mixer.engine->current().rows) {
            if (row.pid == pid) {
                return row;
            }
        }
        throw std::runtime_error("no row " + std::to_string(pid));
    }

    SessionBus bus;
    PreviewMixer mixer;
    std::unique_ptr<QDBusConnection> server;
    std::unique_ptr<QDBusConnection> client;
    std::unique_ptr<SingleInstance> instance;
    std::unique_ptr<ControlService> service;
    std::vector<std::string> actions;
};

TEST_F(ControlServiceTest, ListsTheRowsTheModelShows) {
    const auto apps = listApps();
    ASSERT_EQ(apps.size(), 4u);
    EXPECT_EQ(apps[0], (ControlApp{1, "com.example.music", "Music", 0.8, false, "", "", true}));
    EXPECT_EQ(apps[1].outputUID, "bt");
    EXPECT_TRUE(apps[2].muted);
    EXPECT_FALSE(apps[2].active);
    EXPECT_EQ(apps[3].status, "The chosen output is not connected. Playing on the default output "
                              "until it returns.");

    const QDBusMessage outputs = call(QStringLiteral("ListOutputs"));
    ASSERT_EQ(outputs.type(), QDBusMessage::ReplyMessage);
    const auto list = qdbus_cast<QList<controlbus::Output>>(outputs.arguments().front());
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].uid, QStringLiteral("builtin"));
    EXPECT_TRUE(list[0].isDefault);
    EXPECT_EQ(list[1].transport, QStringLiteral("bluetooth"));
}

TEST_F(ControlServiceTest, VolumeByPidOrIdReachesTheEngineThroughTheModel) {
    EXPECT_TRUE(errorOf(QStringLiteral("SetVolume"), {QStringLiteral("1"), 0.4}).isEmpty());
    EXPECT_FLOAT_EQ(engineRow(1).volume, 0.4f);
    EXPECT_FLOAT_EQ(mixer.model->volumeBox(1)->value(), 0.4f);
    EXPECT_EQ(listApps()[0].volume, 0.4);

    EXPECT_TRUE(
        errorOf(QStringLiteral("SetVolume"), {QStringLiteral("com.example.call"), 0.25}).isEmpty());
    EXPECT_FLOAT_EQ(engineRow(2).volume, 0.25f);

    const QDBusMessage up = call(QStringLiteral("AdjustVolume"), {QStringLiteral("music"), 0.05});
    ASSERT_EQ(up.type(), QDBusMessage::ReplyMessage);
    EXPECT_DOUBLE_EQ(up.arguments().front().toDouble(), 0.45);
    EXPECT_NEAR(engineRow(1).volume, 0.45f, 1e-6);
    // A change past the top stops there.
    call(QStringLiteral("AdjustVolume"), {QStringLiteral("1"), 1.0});
    EXPECT_FLOAT_EQ(engineRow(1).volume, 1.0f);
}

TEST_F(ControlServiceTest, MuteOutputAndForget) {
    call(QStringLiteral("SetMuted"), {QStringLiteral("1"), true});
    EXPECT_TRUE(engineRow(1).isMuted);
    const QDBusMessage toggled = call(QStringLiteral("ToggleMuted"), {QStringLiteral("1")});
    EXPECT_FALSE(toggled.arguments().front().toBool());
    EXPECT_FALSE(engineRow(1).isMuted);

    // A device by name; the waiting row is then on a device that exists.
    EXPECT_TRUE(
        errorOf(QStringLiteral("SetOutput"), {QStringLiteral("4"), QStringLiteral("HEADPHONES")})
            .isEmpty());
    EXPECT_EQ(engineRow(4).outputUID, std::optional<std::string>("bt"));
    EXPECT_EQ(engineRow(4).status, MixerRowStatus::ok());
    call(QStringLiteral("SetOutput"), {QStringLiteral("4"), QString()});
    EXPECT_EQ(engineRow(4).outputUID, std::nullopt);

    EXPECT_TRUE(errorOf(QStringLiteral("Forget"), {QStringLiteral("3")}).isEmpty());
    EXPECT_EQ(mixer.engine->current().rows.size(), 3u); // the preview engine drops the app
    EXPECT_TRUE(errorOf(QStringLiteral("ForgetAll")).isEmpty());
    EXPECT_TRUE(mixer.engine->current().rows.empty());
    ASSERT_TRUE(waitFor([&] { return listApps().empty(); }));
}

TEST_F(ControlServiceTest, MasterSection) {
    const QDBusMessage reply = call(QStringLiteral("GetMaster"));
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage);
    const auto master =
        controlbus::masterFromBus(qdbus_cast<QVariantMap>(reply.arguments().front()));
    EXPECT_EQ(master, (ControlMaster{"builtin", "Built-in Speakers", 0.6, false}));

    call(QStringLiteral("SetMasterVolume"), {0.3});
    EXPECT_FLOAT_EQ(*mixer.engine->current().master->volume, 0.3f);
    call(QStringLiteral("AdjustMasterVolume"), {-0.5});
    EXPECT_FLOAT_EQ(*mixer.engine->current().master->volume, 0.0f);
    call(QStringLiteral("ToggleMasterMuted"));
    EXPECT_EQ(mixer.engine->current().master->isMuted, std::optional<bool>(true));
    call(QStringLiteral("SetMasterMuted"), {false});
    EXPECT_EQ(mixer.engine->current().master->isMuted, std::optional<bool>(false));
    EXPECT_TRUE(errorOf(QStringLiteral("SetDefaultOutput"), {QStringLiteral("monitor")}).isEmpty());
    EXPECT_EQ(mixer.engine->current().master->deviceUID, "hdmi");
}

TEST_F(ControlServiceTest, BadArgumentsGetAClearErrorAndChangeNothing) {
    const MixerSnapshot before = mixer.engine->current();
    const auto refused = [&](const char* method, const QList<QVariant>& arguments,
                             const char* expectedName, const char* expectedText) {
        const QDBusMessage reply = call(QString::fromLatin1(method), arguments);
        ASSERT_EQ(reply.type(), QDBusMessage::ErrorMessage) << method;
        EXPECT_EQ(reply.errorName(), QString::fromLatin1(expectedName)) << method;
        EXPECT_EQ(reply.errorMessage().toStdString(), expectedText) << method;
    };
    refused("SetVolume", {QStringLiteral("1"), 1.5}, controlbus::invalidArgs,
            "A volume of 1.5 is out of range; give 0 to 1.");
    refused("SetVolume", {QStringLiteral("1"), std::nan("")}, controlbus::invalidArgs,
            "A volume of nan is out of range; give 0 to 1.");
    refused("SetVolume", {QStringLiteral("77"), 0.5}, controlbus::noSuchApp,
            "No app with pid 77 is in the mixer.");
    refused("SetMuted", {QStringLiteral("org.nothing"), true}, controlbus::noSuchApp,
            "No app \"org.nothing\" is in the mixer.");
    refused("AdjustVolume", {QStringLiteral("1"), -3.0}, controlbus::invalidArgs,
            "A change of -3 is out of range; give -1 to 1.");
    refused("SetOutput", {QStringLiteral("1"), QStringLiteral("usb")}, controlbus::noSuchOutput,
            "No output device \"usb\" is connected.");
    refused("SetDefaultOutput", {QString()}, controlbus::invalidArgs,
            "Name an output device by its UID or its name.");
    refused("SetMasterVolume", {-0.1}, controlbus::invalidArgs,
            "A volume of -0.1 is out of range; give 0 to 1.");
    refused("Forget", {QString()}, controlbus::invalidArgs,
            "Name an app by its pid or its application id.");
    // Wrong argument types never reach the service.
    EXPECT_FALSE(errorOf(QStringLiteral("SetVolume"), {1, QStringLiteral("loud")}).isEmpty());
    settle();
    EXPECT_EQ(mixer.engine->current(), before);
    EXPECT_EQ(mixer.model->rows.get(), before.rows);
}

class FixedVolumeControlTest : public ControlServiceTest {
protected:
    FixedVolumeControlTest() : ControlServiceTest(PreviewState::fixedVolume) {}
};

TEST_F(FixedVolumeControlTest, AMasterWithoutControlsSaysSo) {
    const QDBusMessage reply = call(QStringLiteral("SetMasterVolume"), {0.5});
    EXPECT_EQ(reply.errorName(), QString::fromLatin1(controlbus::notSupported));
    EXPECT_EQ(reply.errorMessage(), QStringLiteral("Monitor has no volume control."));
    EXPECT_EQ(call(QStringLiteral("ToggleMasterMuted")).errorMessage(),
              QStringLiteral("Monitor cannot be muted."));
    const auto master = controlbus::masterFromBus(
        qdbus_cast<QVariantMap>(call(QStringLiteral("GetMaster")).arguments().front()));
    ASSERT_TRUE(master);
    EXPECT_EQ(master->volume, std::nullopt);
    EXPECT_EQ(master->muted, std::nullopt);
}

TEST_F(ControlServiceTest, PanelActionsAndTheHandOverShareTheObject) {
    call(QStringLiteral("TogglePanel"));
    call(QStringLiteral("ShowPanel"));
    call(QStringLiteral("OpenSettings"));
    const QDBusMessage activate = call(QStringLiteral("Activate"), {QVariantMap()},
                                       QStringLiteral("org.freedesktop.Application"));
    EXPECT_EQ(activate.type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(actions, (std::vector<std::string>{"toggle", "show", "settings", "activate"}));

    // A second launch still hands over (its blocking call runs on a thread of its own).
    std::atomic<bool> done{false};
    std::atomic<int> role{-1};
    std::thread second([&] {
        QDBusConnection connection =
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("control-second"));
        {
            SingleInstance later(connection);
            role = static_cast<int>(later.claim());
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("control-second"));
        done = true;
    });
    const bool finished = waitFor([&] { return done.load(); }, 20000);
    second.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(role.load(), static_cast<int>(SingleInstance::Role::handedOver));
    EXPECT_EQ(actions.back(), "activate");

    // Both interfaces are introspectable on the one object.
    const QDBusMessage xml = call(QStringLiteral("Introspect"), {},
                                  QStringLiteral("org.freedesktop.DBus.Introspectable"));
    const QString text = xml.arguments().value(0).toString();
    EXPECT_TRUE(text.contains(QStringLiteral("com.quorvel.taskor.brindell.Mixer")));
    EXPECT_TRUE(text.contains(QStringLiteral("org.freedesktop.Application")));
    EXPECT_TRUE(text.contains(QStringLiteral("a(issdbssb)"))) << text.toStdString();
}

TEST_F(ControlServiceTest, ChangedFollowsEngineChangesAndIsCoalesced) {
    ChangedCounter counter;
    ASSERT_TRUE(client->connect(QString::fromLatin1(controlbus::serviceName),
                                QString::fromLatin1(controlbus::objectPath),
                                QString::fromLatin1(controlbus::interfaceName),
                                QStringLiteral("Changed"), &counter, SLOT(onChanged())));
    // A change on the audio side, not through the bus.
    mixer.engineChangesRow(2, [](MixerRow& row) { row.isActive = false; });
    ASSERT_TRUE(waitFor([&] { return counter.count >= 1; }));

    // A burst of fifty changes: far fewer signals, and never more than twenty a second.
    counter.count = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 50; ++i) {
        mixer.engine->setVolume(1, static_cast<float>(i) / 50.0f);
    }
    ASSERT_TRUE(waitFor([&] { return counter.count >= 1; }));
    // Let the trailing signal arrive, then stay quiet.
    QTest::qWait(300);
    const double seconds = std::max(0.05, static_cast<double>(clock.elapsed()) / 1000.0);
    EXPECT_GE(counter.count, 1);
    EXPECT_LE(counter.count, 1 + static_cast<int>(seconds * ControlService::changedPerSecond));
    EXPECT_LE(counter.count, 3);
}

TEST_F(ControlServiceTest, AfterTheServiceIsGoneCallsAreRefused) {
    service.reset();
    const QDBusMessage reply = call(QStringLiteral("ListApps"));
    EXPECT_EQ(reply.errorName(), QString::fromLatin1(controlbus::unavailable));
    // The hand-over still answers.
    EXPECT_EQ(call(QStringLiteral("Activate"), {QVariantMap()},
                   QStringLiteral("org.freedesktop.Application"))
                  .type(),
              QDBusMessage::ReplyMessage);
}

} // namespace
} // namespace brindell

#include "ControlServiceUiTest.moc"
