#include "output/pipewire/PipeWireSystemControl.h"

#include "audio/pipewire/PipeWireGraph.h"
#include "audio/pipewire/PipeWireHardware.h"
#include "output/OutputDeviceController.h"
#include "queue/ThreadQueue.h"
#include "support/AudioSession.h"
#include "support/ChangeCounter.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

namespace brindell {
namespace {

using namespace std::chrono_literals;
using testing::AudioSession;

constexpr const char* speakers = AudioSession::speakers;
constexpr const char* headphones = AudioSession::headphones;

// Counts the control's change reports, which arrive on its listener thread.
struct ChangeCounter : testing::ChangeCounter {
    explicit ChangeCounter(SystemAudioControl& control)
        : testing::ChangeCounter([&control](std::function<void()> changed) {
              control.setOnChange(std::move(changed));
          }) {}
};

class PipeWireSystemControlTest : public ::testing::Test {
protected:
    AudioSession session;
    std::shared_ptr<PipeWireHardware> hw;
    std::shared_ptr<PipeWireSystemControl> control;

    void SetUp() override {
        hw = std::make_shared<PipeWireHardware>();
        ASSERT_TRUE(hw->isConnected()) << session.logs();
        control = PipeWireSystemControl::create(hw);
        ASSERT_TRUE(control->isConnected()) << session.logs();
    }

    void TearDown() override {
        if (control) {
            control->setOnChange({});
        }
    }

    std::string idOf(const std::string& uid) {
        auto id = hw->deviceID(uid);
        return id ? std::to_string(*id) : "none";
    }

    // What wpctl shows for the sink: its volume and whether it is muted.
    struct WpctlVolume {
        float volume = -1.0f;
        bool muted = false;
    };
    std::optional<WpctlVolume> wpctlVolume(const std::string& uid) {
        auto child = session.run({"wpctl", "get-volume", idOf(uid)}, true);
        const auto line = child->readLine(10s);
        child->waitExit(5s);
        if (!line || line->rfind("Volume: ", 0) != 0) {
            return std::nullopt;
        }
        WpctlVolume result;
        result.volume = std::stof(line->substr(8));
        result.muted = line->find("[MUTED]") != std::string::npos;
        return result;
    }

    // The sink's linear channel volumes as the server holds them (pw-dump).
    std::vector<float> channelVolumes(const std::string& uid) {
        std::vector<float> result;
        for (const auto& object : session.dump()) {
            const auto props =
                object.value(nlohmann::json::json_pointer("/info/props"), nlohmann::json::object());
            if (props.value("node.name", "") != uid) {
                continue;
            }
            const auto params = object.value(nlohmann::json::json_pointer("/info/params/Props"),
                                             nlohmann::json::array());
            for (const auto& param : params) {
                if (param.contains("channelVolumes")) {
                    for (const auto& value : param["channelVolumes"]) {
                        result.push_back(value.get<float>());
                    }
                    return result;
                }
            }
        }
        return result;
    }
};

TEST_F(PipeWireSystemControlTest, VolumeAndMuteReadTheSameAsInTheDesktopMixers) {
    EXPECT_EQ(control->defaultOutputUID(), speakers);
    EXPECT_EQ(control->mainDeviceUID(speakers), speakers);

    control->setVolume(speakers, 0.3f);
    const auto shown = wpctlVolume(speakers);
    ASSERT_TRUE(shown) << session.logs();
    EXPECT_NEAR(shown->volume, 0.3f, 0.01f);
    EXPECT_FALSE(shown->muted);
    // The cube-root scale: the server holds 0.3^3 on every channel.
    const auto linear = channelVolumes(speakers);
    ASSERT_EQ(linear.size(), 2u);
    for (float value : linear) {
        EXPECT_NEAR(value, 0.027f, 0.001f);
    }
    ASSERT_TRUE(control->volume(speakers));
    EXPECT_NEAR(*control->volume(speakers), 0.3f, 0.001f);

    control->setMuted(speakers, true);
    EXPECT_EQ(control->isMuted(speakers), std::optional<bool>(true));
    EXPECT_TRUE(wpctlVolume(speakers).value_or(WpctlVolume{}).muted);
    control->setMuted(speakers, false);
    EXPECT_EQ(control->isMuted(speakers), std::optional<bool>(false));

    // The other sink keeps its own level.
    ASSERT_TRUE(control->volume(headphones));
    EXPECT_NEAR(*control->volume(headphones), 1.0f, 0.001f);

    // Set from outside, read here on the same scale.
    ASSERT_EQ(session.runToEnd({"wpctl", "set-volume", idOf(headphones), "0.55"}), 0);
    EXPECT_TRUE(testing::waitUntil(
        [&] {
            const auto v = control->volume(headphones);
            return v && std::fabs(*v - 0.55f) < 0.01f;
        },
        5s));

    // Over-amplified reads as full; values outside 0 to 1 are never written.
    ASSERT_EQ(session.runToEnd({"wpctl", "set-volume", idOf(headphones), "1.4"}), 0);
    EXPECT_TRUE(testing::waitUntil([&] { return control->volume(headphones) == 1.0f; }, 5s));
    control->setVolume(headphones, std::nanf(""));
    EXPECT_EQ(control->volume(headphones), 0.0f);
}

TEST_F(PipeWireSystemControlTest, ChangesFromOutsideAreReportedForTheWatchedDeviceOnly) {
    ChangeCounter changes(*control);
    control->observeDevice(std::string(speakers));
    EXPECT_EQ(control->observedUID(), std::optional<std::string>(speakers));
    // The first report of a fresh watch may still come; then it is quiet.
    changes.waitBeyond(0, 500ms);
    int before = changes.count();

    ASSERT_EQ(session.runToEnd({"wpctl", "set-volume", idOf(speakers), "0.42"}), 0);
    ASSERT_TRUE(changes.waitBeyond(before, 5s)) << "no report of the volume change";
    ASSERT_TRUE(control->volume(speakers));
    EXPECT_NEAR(*control->volume(speakers), 0.42f, 0.01f);

    before = changes.count();
    ASSERT_EQ(session.runToEnd({"wpctl", "set-mute", idOf(speakers), "1"}), 0);
    ASSERT_TRUE(changes.waitBeyond(before, 5s)) << "no report of the mute change";
    EXPECT_EQ(control->isMuted(speakers), std::optional<bool>(true));

    // The other sink is not watched.
    before = changes.count();
    ASSERT_EQ(session.runToEnd({"wpctl", "set-volume", idOf(headphones), "0.2"}), 0);
    EXPECT_FALSE(changes.waitBeyond(before, 700ms));

    // Watching stops.
    control->stopObservingDevice();
    EXPECT_FALSE(control->observedUID());
    before = changes.count();
    ASSERT_EQ(session.runToEnd({"wpctl", "set-volume", idOf(speakers), "0.6"}), 0);
    EXPECT_FALSE(changes.waitBeyond(before, 700ms));

    // The device list stays watched: a sink plugged in and out is reported both times.
    auto plugIn = [&] {
        auto load =
            session.run({"pactl", "load-module", "module-null-sink", "sink_name=test-usb"}, true);
        const auto module = load->readLine(10s);
        EXPECT_TRUE(testing::waitUntil([&] { return hw->deviceID("test-usb").has_value(); }, 5s));
        return module.value_or("");
    };
    before = changes.count();
    std::string module = plugIn();
    ASSERT_FALSE(module.empty());
    EXPECT_TRUE(changes.waitBeyond(before, 5s)) << "no report of the new sink";
    control->observeDevice(std::string("test-usb"));
    before = changes.count();
    ASSERT_EQ(session.runToEnd({"pactl", "unload-module", module}), 0);
    EXPECT_TRUE(changes.waitBeyond(before, 5s)) << "no report of the vanished sink";

    // Plugged in again (a new node), the watched sink is watched again.
    module = plugIn();
    ASSERT_FALSE(module.empty());
    EXPECT_EQ(control->observedUID(), std::optional<std::string>("test-usb"));
    changes.waitBeyond(changes.count(), 500ms); // the fresh watch's first report
    before = changes.count();
    ASSERT_EQ(session.runToEnd({"wpctl", "set-volume", idOf("test-usb"), "0.3"}), 0);
    EXPECT_TRUE(changes.waitBeyond(before, 5s)) << "the sink plugged in again is not watched";
    ASSERT_EQ(session.runToEnd({"pactl", "unload-module", module}), 0);

    // Watching an unknown device watches nothing.
    control->observeDevice(std::string("no-such-sink"));
    control->observeDevice(std::nullopt);
    EXPECT_FALSE(control->observedUID());
}

TEST_F(PipeWireSystemControlTest, TheChosenDefaultMovesTheMetadataAndWirePlumberKeepsIt) {
    ChangeCounter changes(*control);
    const int before = changes.count();
    control->setDefaultOutput(headphones);
    // The choice is the user's, as wpctl writes it; the session manager follows it.
    EXPECT_EQ(session.configuredSink(), std::optional<std::string>(headphones));
    EXPECT_EQ(session.defaultSink(), std::optional<std::string>(headphones));
    EXPECT_EQ(control->defaultOutputUID(), headphones);
    EXPECT_TRUE(changes.waitBeyond(before, 5s)) << "no report of the new default";

    // WirePlumber keeps it: in its state, and after it restarts, despite the higher priority of
    // the speakers.
    EXPECT_TRUE(testing::waitUntil(
        [&] {
            return session.wirePlumberState("default-nodes").find(headphones) != std::string::npos;
        },
        5s))
        << session.wirePlumberState("default-nodes");
    session.stopWirePlumber();
    ASSERT_NO_THROW(session.startWirePlumber(headphones)) << session.logs();
    // Until the restarted session manager has set the default again there is none to read.
    EXPECT_TRUE(testing::waitUntil(
        [&] {
            try {
                return control->defaultOutputUID() == headphones;
            } catch (const AudioHardwareError&) {
                return false;
            }
        },
        5s));

    // And back.
    control->setDefaultOutput(speakers);
    EXPECT_EQ(session.defaultSink(), std::optional<std::string>(speakers));
}

TEST_F(PipeWireSystemControlTest, UnknownDevicesAndPerAppSinksAreRefused) {
    EXPECT_FALSE(control->volume("no-such-sink"));
    EXPECT_FALSE(control->isMuted("no-such-sink"));
    EXPECT_EQ(control->mainDeviceUID("no-such-sink"), "no-such-sink");
    EXPECT_THROW(control->setVolume("no-such-sink", 0.5f), AudioHardwareError);
    EXPECT_THROW(control->setMuted("no-such-sink", true), AudioHardwareError);
    try {
        control->setDefaultOutput("no-such-sink");
        ADD_FAILURE() << "an unknown device became the default";
    } catch (const AudioHardwareError& e) {
        EXPECT_EQ(e, AudioHardwareError::noSuchObject());
    }

    // A per-app sink names the device its audio goes on to, and is never made the default.
    auto player = session.tonePlayer({"440:0.5"});
    const pid_type pid = static_cast<pid_type>(player->pid());
    const TapHandle tap = hw->createTap(hw->processObject(pid), "Brindell test", false);
    const std::string uid = "com.quorvel.Brindell.agg.control-test";
    const AudioObjectID aggregate =
        hw->createAggregate({uid, "Brindell test", headphones, tap.uid});
    ASSERT_TRUE(testing::waitUntil([&] { return control->mainDeviceUID(uid) == headphones; }, 5s));
    EXPECT_THROW(control->setDefaultOutput(uid), AudioHardwareError);
    EXPECT_EQ(session.defaultSink(), std::optional<std::string>(speakers));
    hw->destroyAggregate(aggregate);
    hw->destroyTap(tap.objectID);
}

TEST_F(PipeWireSystemControlTest, ASinkWithoutVolumeControlHasNoSoftwareVolume) {
    // A bare sink node, without the adapter that gives sinks their volume, owned by a bystander.
    PipeWireGraph graph("", [](const GraphChange&) {});
    graph.start();
    std::unique_ptr<OwnedProxy> sink;
    {
        PipeWireGraph::Lock lock(graph);
        ASSERT_TRUE(graph.waitFor([&] { return graph.isSettled(); }, 5.0));
        const struct spa_dict_item items[] = {
            {"factory.name", "support.null-audio-sink"},
            {PW_KEY_MEDIA_CLASS, "Audio/Sink"},
            {PW_KEY_NODE_NAME, "test-fixed"},
            {PW_KEY_NODE_DESCRIPTION, "Test Fixed"},
            {"audio.position", "FL,FR"},
        };
        const struct spa_dict dict = {0, static_cast<std::uint32_t>(std::size(items)), items};
        sink =
            graph.createObject("spa-node-factory", PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, &dict);
        ASSERT_TRUE(sink);
    }
    ASSERT_TRUE(testing::waitUntil([&] { return hw->deviceID("test-fixed").has_value(); }, 5s))
        << session.logs();

    EXPECT_FALSE(control->volume("test-fixed"));
    EXPECT_FALSE(control->isMuted("test-fixed"));
    try {
        control->setVolume("test-fixed", 0.5f);
        ADD_FAILURE() << "a sink without volume control took a volume";
    } catch (const AudioHardwareError& e) {
        EXPECT_EQ(e, AudioHardwareError::noSuchObject());
    }
    // It is known, though: a mute is tried on it (the server refuses or ignores it).
    try {
        control->setMuted("test-fixed", true);
    } catch (const AudioHardwareError& e) {
        EXPECT_EQ(e.kind(), AudioHardwareError::Kind::status) << e.text();
    }
    // Its neighbours keep theirs.
    EXPECT_TRUE(control->volume(speakers));

    PipeWireGraph::Lock lock(graph);
    sink.reset();
}

TEST_F(PipeWireSystemControlTest, ASinkThatVanishesLeavesTheOutputsAndTheMasterFollows) {
    auto queue = std::make_shared<ThreadQueue>("com.quorvel.taskor.brindell.mixer");
    auto controller = OutputDeviceController::create(control, hw);
    std::mutex mutex;
    std::vector<OutputState> published;
    queue->sync([&] {
        controller->setOnChange([&](const std::optional<OutputState>& state) {
            std::lock_guard lock(mutex);
            if (state) {
                published.push_back(*state);
            }
        });
        controller->start(queue);
    });
    auto latest = [&]() -> std::optional<OutputState> {
        std::lock_guard lock(mutex);
        return published.empty() ? std::nullopt : std::optional(published.back());
    };
    auto outputs = [&] {
        std::vector<std::string> uids;
        queue->sync([&] {
            for (const auto& device : controller->outputs()) {
                uids.push_back(device.uid);
            }
        });
        return uids;
    };
    ASSERT_TRUE(
        testing::waitUntil([&] { return latest() && latest()->deviceUID == speakers; }, 5s));
    EXPECT_EQ(latest()->deviceName, "Test Speakers");
    EXPECT_EQ(latest()->volume, std::optional<float>(1.0f));
    EXPECT_EQ(latest()->isMuted, std::optional<bool>(false));

    // A USB headset is plugged in and chosen.
    auto load = session.run({"pactl", "load-module", "module-null-sink", "sink_name=test-usb",
                             "sink_properties=device.description=Test-USB"},
                            true);
    const auto module = load->readLine(10s);
    ASSERT_TRUE(module && !module->empty());
    ASSERT_TRUE(testing::waitUntil(
        [&] {
            const auto uids = outputs();
            return std::find(uids.begin(), uids.end(), "test-usb") != uids.end();
        },
        5s));
    EXPECT_EQ(outputs().front(), speakers); // the default first
    std::exception_ptr error;
    queue->sync([&] {
        try {
            controller->setDefaultOutput("test-usb");
        } catch (...) {
            error = std::current_exception();
        }
    });
    ASSERT_FALSE(error);
    ASSERT_TRUE(
        testing::waitUntil([&] { return latest() && latest()->deviceUID == "test-usb"; }, 5s));
    EXPECT_EQ(latest()->deviceName, "Test-USB");

    // It is unplugged: it leaves the list, and the master follows the new default.
    ASSERT_EQ(session.runToEnd({"pactl", "unload-module", *module}), 0);
    EXPECT_TRUE(testing::waitUntil(
        [&] {
            const auto uids = outputs();
            return std::find(uids.begin(), uids.end(), "test-usb") == uids.end();
        },
        5s));
    EXPECT_TRUE(testing::waitUntil([&] { return latest() && latest()->deviceUID == speakers; }, 5s))
        << (latest() ? latest()->deviceUID : "none");
    queue->sync([&] {
        bool refused = false;
        try {
            controller->setDefaultOutput("test-usb");
        } catch (const ControlError& e) {
            refused = e.kind() == ControlError::Kind::deviceUnavailable;
        }
        EXPECT_TRUE(refused);
        controller->stop();
        controller->setOnChange({});
    });
}

} // namespace
} // namespace brindell
