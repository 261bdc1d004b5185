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
        using Pointer = nlohmann::json::json_pointer;
        for (const auto& object : session.dump()) {
            if (object.value(Pointer("/info/props/node.name"), "") != uid) {
                continue;
            }
            for (const auto& param :
                 object.value(Pointer("/info/params/Props"), nlohmann::json())) {
                if (param.contains("channelVolumes")) {
                    return param["channelVolumes"].get<std::vector<float>>();
                }
            }
        }
        return {};
    }
};

TEST_F(PipeWireSystemControlTest, VolumeAndMuteReadTheSameAsInTheDesktopMixers) {
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

    // (Round trips of volume and mute are the adapter contract's.)
    control->setMuted(speakers, true);
    EXPECT_TRUE(wpctlVolume(speakers).value_or(WpctlVolume{}).muted);

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
    testing::ChangeCounter changes([&](auto changed) { control->setOnChange(changed); });
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
        const auto module = session.plugInSink();
        EXPECT_TRUE(testing::waitUntil([&] { return hw->deviceID("test-usb").has_value(); }, 5s));
        return module;
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

TEST_F(PipeWireSystemControlTest, TheChosenDefaultMovesTheMetadataAndNeverToAPerAppSink) {
    testing::ChangeCounter changes([&](auto changed) { control->setOnChange(changed); });
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

    // A per-app sink names the device its audio goes on to, and is never made the default.
    auto player = session.tonePlayer({"440:0.5"});
    const TapHandle tap =
        hw->createTap(hw->processObject(static_cast<pid_type>(player->pid())), "Brindell", false);
    const std::string uid = "com.quorvel.Brindell.agg.control-test";
    const AudioObjectID aggregate = hw->createAggregate({uid, "Brindell", headphones, tap.uid});
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

// (Which outputs the controller offers is the unit tier's; what it hears of the real ones is here.)
TEST_F(PipeWireSystemControlTest, WhenTheChosenSinkVanishesTheMasterFollowsTheNewDefault) {
    auto queue = std::make_shared<ThreadQueue>("com.quorvel.taskor.brindell.mixer");
    auto controller = OutputDeviceController::create(control, hw);
    std::mutex mutex;
    std::optional<OutputState> latest;
    queue->sync([&] {
        controller->setOnChange([&](const std::optional<OutputState>& state) {
            std::lock_guard lock(mutex);
            latest = state ? state : latest;
        });
        controller->start(queue);
    });
    auto shows = [&](const std::string& uid, const std::string& name) {
        return testing::waitUntil([&] {
            std::lock_guard lock(mutex);
            return latest && latest->deviceUID == uid && latest->deviceName == name;
        });
    };
    ASSERT_TRUE(shows(speakers, "Test Speakers"));

    // A USB headset is plugged in and chosen.
    const auto module = session.plugInSink();
    ASSERT_FALSE(module.empty());
    // Each adapter has its own connection here: both must have seen it (its volume is known).
    ASSERT_TRUE(testing::waitUntil(
        [&] { return hw->isDeviceAlive("test-usb") && control->volume("test-usb"); }, 5s));
    std::exception_ptr error;
    queue->sync([&] {
        try {
            controller->setDefaultOutput("test-usb");
        } catch (...) {
            error = std::current_exception();
        }
    });
    ASSERT_FALSE(error);
    ASSERT_TRUE(shows("test-usb", "Test-USB"));

    // It is unplugged: the master follows the new default, and it cannot be chosen any more.
    ASSERT_EQ(session.runToEnd({"pactl", "unload-module", module}), 0);
    EXPECT_TRUE(shows(speakers, "Test Speakers"));
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
