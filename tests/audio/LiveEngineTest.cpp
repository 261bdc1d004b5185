#include "LiveEngineRun.h"
#include "RealTimeTrap.h"
#include "support/AudioSession.h"
#include "support/LevelMeter.h"
#include "support/TestFiles.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace brindell {
namespace {

using namespace std::chrono_literals;
using testing::AudioSession;
using testing::LevelMeter;
using testing::tapped;
using testing::waitForRow;
using Window = LevelMeter::Window;

constexpr const char* toneID = testing::toneAppID;
constexpr const char* toneName = testing::toneAppName;

// Tone amplitudes as the meters see them: the paplay player's 440 Hz, then the tone player's
// 660 Hz; both play at 0.5.
std::function<bool(const Window&)> levels(double at440, double at660) {
    return LevelMeter::tonesNear({at440, at660});
}

// How many of a window's tones are near level (0: below 0.01).
long tonesAt(const Window& w, double level) {
    return std::count_if(w.tones.begin(), w.tones.end(), [&](double t) {
        return level == 0 ? t < 0.01 : std::abs(t - level) < 0.03;
    });
}

// The live engine with the production parts in a private audio session: a tone player that is
// a known application (a desktop entry names its program) and paplay through pipewire-pulse.
class LiveEngineTest : public ::testing::Test {
protected:
    void SetUp() override { toneProgram = testing::installToneApplication(session); }

    std::shared_ptr<LiveMixerEngine> startEngine() { return testing::startEngine(session); }

    static std::string rows(LiveMixerEngine& engine) {
        std::string text;
        for (const auto& row : engine.snapshot().rows) {
            text += std::to_string(row.pid) + " \"" + row.name + "\" " +
                    row.bundleID.value_or("-") + " " + std::to_string(row.volume) +
                    (row.isMuted ? " muted " : " ") + row.outputUID.value_or("default") + " " +
                    row.status.text() + "\n";
        }
        return text;
    }

    // Waits until pid's live level is near expected (0: silent or none).
    static bool levelNear(LiveMixerEngine& engine, pid_type pid, float expected) {
        return testing::waitUntil(
            [&] {
                const auto levels = engine.levels();
                const auto found = levels.find(pid);
                return std::abs((found == levels.end() ? 0.0f : found->second) - expected) < 0.03f;
            },
            5s);
    }

    std::unique_ptr<testing::ChildProcess> playTone() {
        return testing::startTone(session, toneProgram, {"660:0.5"}, 1);
    }

    AudioSession session;
    std::string toneProgram;
};

TEST_F(LiveEngineTest, VolumeMuteAndOutputOfOneAppLeaveTheOtherAlone) {
    auto tone = playTone();
    auto pulse = session.paplay();
    LevelMeter speakers(session, AudioSession::speakers, {440, 660});
    ASSERT_TRUE(speakers.waitFor(levels(0.5, 0.5), 10s)) << speakers.recent();

    // The PipeWire clients this process has open.
    const auto ownClients = [&] {
        int count = 0;
        for (const auto& object : session.dump()) {
            if (object.value("type", "") != "PipeWire:Interface:Client") {
                continue;
            }
            const auto claimed =
                object.at("info").at("props").value("application.process.id", nlohmann::json());
            const std::string pid =
                claimed.is_string() ? claimed.get<std::string>() : claimed.dump();
            count += pid == std::to_string(getpid()) ? 1 : 0;
        }
        return count;
    };
    const int clientsBefore = ownClients();
    auto engine = startEngine();
    const pid_type tonePID = tone->pid();
    const auto row = waitForRow(*engine, tonePID, tapped);
    ASSERT_TRUE(row) << rows(*engine);
    // The list of apps, the taps and the output section share one connection, so they agree.
    EXPECT_EQ(ownClients(), clientsBefore + 1);
    EXPECT_EQ(row->name, toneName);
    EXPECT_EQ(row->bundleID, std::optional<std::string>(toneID));
    ASSERT_TRUE(waitForRow(*engine, pulse->pid(), tapped)) << rows(*engine);
    // Tapped at unity gain: nothing changes on the sink.
    EXPECT_TRUE(speakers.waitFor(levels(0.5, 0.5), 5s)) << speakers.recent();
    // The live level shows what is heard of each app, as the sink's meter does.
    engine->setLevelsWanted(true);
    EXPECT_TRUE(levelNear(*engine, tonePID, 0.5f));
    EXPECT_TRUE(levelNear(*engine, pulse->pid(), 0.5f));

    engine->setVolume(tonePID, 0.5f);
    EXPECT_TRUE(speakers.waitFor(levels(0.5, 0.25), 5s)) << speakers.recent();
    EXPECT_TRUE(levelNear(*engine, tonePID, 0.25f));

    engine->setMuted(tonePID, true);
    EXPECT_TRUE(speakers.waitFor(levels(0.5, 0), 5s)) << speakers.recent();
    EXPECT_TRUE(levelNear(*engine, tonePID, 0.0f));
    EXPECT_TRUE(levelNear(*engine, pulse->pid(), 0.5f)) << "the other app is still heard";
    engine->setMuted(tonePID, false);
    EXPECT_TRUE(speakers.waitFor(levels(0.5, 0.25), 5s)) << speakers.recent();
    EXPECT_TRUE(levelNear(*engine, tonePID, 0.25f));
    engine->setLevelsWanted(false);

    LevelMeter headphones(session, AudioSession::headphones, {440, 660});
    engine->setOutput(tonePID, std::string(AudioSession::headphones));
    EXPECT_TRUE(headphones.waitFor(levels(0, 0.25), 5s)) << headphones.recent();
    EXPECT_TRUE(speakers.waitFor(levels(0.5, 0), 5s)) << speakers.recent();
    EXPECT_TRUE(waitForRow(*engine, tonePID, [](const MixerRow& r) {
        return r.outputUID == std::optional<std::string>(AudioSession::headphones);
    })) << rows(*engine);

    engine->stop();
    // Untapped again: both play where they started, at their own level.
    EXPECT_TRUE(speakers.waitFor(levels(0.5, 0.5), 10s)) << speakers.recent();
    EXPECT_FALSE(session.leftover({"com.quorvel."})) << *session.leftover({"com.quorvel."});
    // All of it ran on the data thread under the allocation and lock trap (RealTimeTrap.h).
    EXPECT_GT(testing::realTimeCycles(), 100u);
}

// The trap itself: an allocation or a lock inside a process cycle ends the process.
TEST(RealTimeTrap, AnAllocationInAProcessCycleAborts) {
    EXPECT_DEATH(
        {
            brindell_realtime_enter();
            int* volatile kept = new int;
            delete kept;
        },
        "real-time trap: allocation");
    std::mutex mutex;
    EXPECT_DEATH((brindell_realtime_enter(), mutex.lock()), "real-time trap: pthread_mutex_lock");
}

TEST_F(LiveEngineTest, ARememberedAppGetsItsSettingsBackUntilTheyAreForgotten) {
    LevelMeter speakers(session, AudioSession::speakers, {440, 660});
    LevelMeter headphones(session, AudioSession::headphones, {440, 660});
    {
        auto tone = playTone();
        auto engine = startEngine();
        ASSERT_TRUE(waitForRow(*engine, tone->pid(), tapped)) << rows(*engine);
        engine->setVolume(tone->pid(), 0.5f);
        engine->setOutput(tone->pid(), std::string(AudioSession::headphones));
        ASSERT_TRUE(headphones.waitFor(levels(0, 0.25), 5s)) << headphones.recent();
        engine->stop(); // writes what is pending
    }

    // A new engine over the same settings; the app plays again later.
    auto engine = startEngine();
    auto tone = playTone();
    const auto row = waitForRow(*engine, tone->pid(), tapped);
    ASSERT_TRUE(row) << rows(*engine);
    EXPECT_FLOAT_EQ(row->volume, 0.5f);
    EXPECT_EQ(row->outputUID, std::optional<std::string>(AudioSession::headphones));
    EXPECT_TRUE(headphones.waitFor(levels(0, 0.25), 5s)) << headphones.recent();
    EXPECT_TRUE(speakers.waitFor(levels(0, 0), 5s)) << speakers.recent();

    // As a browser does per video: the old stream closes, a new one opens; both settings hold.
    ASSERT_TRUE(tone->writeLine("close 0"));
    ASSERT_TRUE(tone->waitForLine("closed 0", 5s));
    ASSERT_TRUE(tone->writeLine("open 660:0.5"));
    ASSERT_TRUE(tone->waitForLine("streaming 1", 5s));
    EXPECT_TRUE(headphones.waitFor(levels(0, 0.25), 10s, 5)) << headphones.recent();

    engine->forgetSettings(toneID);
    EXPECT_TRUE(speakers.waitFor(levels(0, 0.5), 5s)) << speakers.recent();
    EXPECT_TRUE(headphones.waitFor(levels(0, 0), 5s)) << headphones.recent();
    EXPECT_TRUE(waitForRow(*engine, tone->pid(), [](const MixerRow& r) {
        return r.volume == 1.0f && !r.outputUID;
    })) << rows(*engine);
    engine->stop();
}

// The app list, the taps and the output section share one connection: after the server comes
// back they all see it again, and a new app is adjusted.
TEST_F(LiveEngineTest, AfterTheServerRestartsANewAppIsAdjusted) {
    auto engine = startEngine();
    auto tone = playTone();
    ASSERT_TRUE(waitForRow(*engine, tone->pid(), tapped)) << rows(*engine);
    session.stopServer();
    tone.reset();
    session.startServer();
    auto again = playTone();
    LevelMeter speakers(session, AudioSession::speakers, {440, 660});
    ASSERT_TRUE(waitForRow(*engine, again->pid(), tapped, 20s)) << rows(*engine);
    engine->setVolume(again->pid(), 0.5f);
    EXPECT_TRUE(speakers.waitFor(levels(0, 0.25), 10s)) << speakers.recent();
    EXPECT_TRUE(engine->snapshot().master) << "the output section is back too";
    engine->stop();
}

// Without the audio server the engine publishes that it cannot reach it, and once the server
// is back it lists and adjusts the apps that play on it, by itself.
TEST_F(LiveEngineTest, WithoutTheServerItSaysSoAndRecoversWhenTheServerReturns) {
    auto engine = startEngine();
    auto tone = playTone();
    ASSERT_TRUE(waitForRow(*engine, tone->pid(), tapped)) << rows(*engine);
    const auto reachable = [&engine](bool expected) {
        return testing::waitUntil(
            [&] {
                const auto published = engine->publishedSnapshot();
                return published && published->serverReachable == expected;
            },
            15s);
    };
    session.stopServer();
    EXPECT_TRUE(reachable(false));
    session.startServer();
    auto again = playTone();
    EXPECT_TRUE(reachable(true));
    EXPECT_TRUE(waitForRow(*engine, again->pid(), tapped, 20s)) << rows(*engine);
    engine->stop();
}

// An app that is silenced in another mixer keeps a running stream: its silence is no refusal of
// capture, so the mixer keeps working for it and for apps that start later. Such a later app's
// remembered volume applies, and its remembered output "" is the system default.
TEST_F(LiveEngineTest, AnAppMutedElsewhereIsNoRefusalAndAnEmptyOutputIsTheDefault) {
    std::filesystem::create_directories(session.folder() + "/settings");
    std::ofstream(session.folder() + "/settings/perAppSettings.json")
        << R"({"apps":{")" << toneID
        << R"(":{"isMuted":false,"outputDeviceUID":"","volume":0.5}},"version":1})";
    auto pulse = session.paplay();
    LevelMeter speakers(session, AudioSession::speakers, {440, 660});
    ASSERT_TRUE(speakers.waitFor(levels(0.5, 0), 10s)) << speakers.recent();
    // Muted in its own stream, as pavucontrol or wpctl do it.
    const auto nodes = session.streamNodesOf(pulse->pid());
    ASSERT_EQ(nodes.size(), 1u);
    ASSERT_EQ(session.runToEnd({"wpctl", "set-mute", std::to_string(nodes[0]), "1"}), 0);
    ASSERT_TRUE(speakers.waitFor(levels(0, 0), 5s)) << speakers.recent();

    auto engine = startEngine();
    ASSERT_TRUE(waitForRow(*engine, pulse->pid(), [](const MixerRow& r) { return r.isActive; }))
        << rows(*engine);
    std::this_thread::sleep_for(15s);
    EXPECT_EQ(engine->snapshot().permission, PermissionState::unknown);
    EXPECT_TRUE(waitForRow(*engine, pulse->pid(), [](const MixerRow& r) {
        return r.status.kind() == MixerRowStatus::Kind::starting;
    })) << rows(*engine);

    auto tone = playTone();
    // Its remembered volume applies, on the default output.
    ASSERT_TRUE(waitForRow(*engine, tone->pid(), tapped)) << rows(*engine);
    EXPECT_TRUE(speakers.waitFor(levels(0, 0.25), 5s)) << speakers.recent();
    EXPECT_NE(engine->snapshot().permission, PermissionState::likelyDenied);
    engine->stop();
}

// Players in pid namespaces of their own (as Flatpak runs them) all claim pid 1. Each is a row of
// its own and is adjusted alone: the native ones by the host pid the server vouches for, the
// pulse ones, whose host pid nothing names, by an identity of their client's.
TEST_F(LiveEngineTest, PlayersInPidNamespacesAreEachTheirOwnRow) {
    const auto boxed = [&](std::vector<std::string> argv) {
        argv.insert(argv.begin(), {"unshare", "--pid", "--fork", "--mount-proc", "--kill-child"});
        return session.run(argv);
    };
    // 440 and 660 Hz: two native players; 550 and 770 Hz: two pulse players.
    const std::vector<double> tones = {440, 660, 550, 770};
    auto native1 = boxed({BRINDELL_TONE_TOOL, "440:0.5"});
    auto native2 = boxed({BRINDELL_TONE_TOOL, "660:0.5"});
    auto pulse1 = boxed({"paplay", session.toneFileAt(550)});
    auto pulse2 = boxed({"paplay", session.toneFileAt(770)});
    LevelMeter speakers(session, AudioSession::speakers, tones);
    ASSERT_TRUE(speakers.waitFor(LevelMeter::tonesNear({0.5, 0.5, 0.5, 0.5}), 10s))
        << speakers.recent();

    auto engine = startEngine();
    std::vector<MixerRow> boxedRows;
    testing::waitUntil(
        [&] {
            boxedRows.clear();
            for (const auto& row : engine->snapshot().rows) {
                if (tapped(row) && (row.name == "brindell-tone" || row.name == "paplay")) {
                    boxedRows.push_back(row);
                }
            }
            return boxedRows.size() == 4;
        },
        15s);
    ASSERT_EQ(boxedRows.size(), 4u) << rows(*engine);
    for (const auto& row : boxedRows) {
        EXPECT_NE(row.pid, 1) << rows(*engine);
        EXPECT_EQ(row.memberPIDs.size(), 1u) << rows(*engine);
        // Native players are known by their host pids, pulse players by their clients.
        EXPECT_EQ(isHostPID(row.pid), row.name == "brindell-tone") << rows(*engine);
    }

    // Each row alone: muted, only its own tone goes.
    for (const auto& row : boxedRows) {
        engine->setMuted(row.pid, true);
        ASSERT_TRUE(speakers.waitFor(
            [](const Window& w) { return tonesAt(w, 0) == 1 && tonesAt(w, 0.5) == 3; }, 5s))
            << row.name << " " << row.pid << "\n"
            << speakers.recent();
        engine->setMuted(row.pid, false);
        ASSERT_TRUE(speakers.waitFor(LevelMeter::tonesNear({0.5, 0.5, 0.5, 0.5}), 5s))
            << speakers.recent();
    }
    // And a volume for one pulse player leaves the other alone.
    const auto pulseRow = std::find_if(boxedRows.begin(), boxedRows.end(),
                                       [](const MixerRow& r) { return r.name == "paplay"; });
    engine->setVolume(pulseRow->pid, 0.5f);
    EXPECT_TRUE(speakers.waitFor(
        [](const Window& w) { return tonesAt(w, 0.25) == 1 && tonesAt(w, 0.5) == 3; }, 5s))
        << speakers.recent();
    engine->stop();
}

} // namespace
} // namespace brindell
