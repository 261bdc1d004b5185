#include "BrindellRun.h"
#include "support/AudioSession.h"
#include "support/LevelMeter.h"
#include "support/TestFiles.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <iostream>
#include <thread>

namespace brindell {
namespace {

using namespace std::chrono_literals;
using testing::AudioSession;
using testing::ChildProcess;
using testing::LevelMeter;
using Window = LevelMeter::Window;

constexpr double amplitude = 0.04; // twenty of them stay below full scale together
constexpr int players = 20;

// Player i's tone: 300 Hz and up in steps of 40 Hz, each on an exact bin of the meters' window.
double frequencyOf(int i) {
    return 300.0 + 40.0 * i;
}

// Every player in [first, last) at `level`, the others silent; a silent one below 0.005.
std::function<bool(const Window&)> playersAt(int first, int last, double level) {
    return [=](const Window& window) {
        for (int i = 0; i < players; ++i) {
            const double expected = i >= first && i < last ? level : 0.0;
            const double tone = window.tones[static_cast<std::size_t>(i)];
            if (expected == 0.0 ? tone > 0.005 : std::abs(tone - expected) > 0.008) {
                return false;
            }
        }
        return true;
    };
}

std::vector<double> frequencies() {
    std::vector<double> result;
    for (int i = 0; i < players; ++i) {
        result.push_back(frequencyOf(i));
    }
    return result;
}

// Player i: paplay through pipewire-pulse for even i, pw-play for odd i, each a 240 s tone (at
// 8 kHz: twenty files stay small, and the server resamples as it does for many real players).
std::unique_ptr<ChildProcess> startPlayer(AudioSession& session, int i) {
    const std::string file = session.folder() + "/tone-" + std::to_string(i) + ".wav";
    if (!std::filesystem::exists(file)) {
        session.runToEnd({"sox", "-n", "-r", "8000", "-c", "2", "-b", "16", file, "synth", "240",
                          "sine", std::to_string(frequencyOf(i)), "vol",
                          std::to_string(amplitude)});
    }
    // Each its own application, so that brindell remembers each one's settings.
    const std::string id = "org.example.Player" + std::to_string(i);
    if (i % 2 == 0) {
        return session.run({"paplay", file}, false, false,
                           {{"PULSE_PROP", "application.id=" + id}});
    }
    return session.run({"pw-play", "-P", "{ application.id = " + id + " }", file});
}

// An ordinary desktop load on brindell: ten players already playing when it starts, ten more
// starting within a second while it runs, every one of them set through brindell ctl; then
// brindell killed outright, which must give every app back to its own route at once, and a new
// brindell over the same settings that brings every app's volume and output back. No crash
// diagnostic at any point, and nothing of brindell left at the end.
TEST(Stress, TwentyPlayersAKillAndARestart) {
    AudioSession session;
    LevelMeter speakers(session, AudioSession::speakers, frequencies());
    LevelMeter headphones(session, AudioSession::headphones, frequencies());
    std::vector<std::unique_ptr<ChildProcess>> crowd;
    for (int i = 0; i < players / 2; ++i) {
        crowd.push_back(startPlayer(session, i));
    }
    ASSERT_TRUE(speakers.waitFor(playersAt(0, players / 2, amplitude), 15s)) << speakers.recent();

    const std::string log = session.folder() + "/brindell.log";
    auto brindell = testing::startBrindell(session, log);
    auto listed = [&](int count) {
        return testing::waitForList(session, [&](const nlohmann::json& apps) {
            return std::all_of(crowd.begin(), crowd.begin() + count, [&](const auto& player) {
                return testing::adjustedApp(apps, player->pid()) != nullptr;
            });
        });
    };
    ASSERT_EQ(listed(players / 2), "") << testing::readFile(log);
    for (int i = players / 2; i < players; ++i) {
        crowd.push_back(startPlayer(session, i));
    }
    ASSERT_EQ(listed(players), "") << testing::readFile(log);
    // Tapped at unity: nothing changes on the speakers.
    EXPECT_TRUE(speakers.waitFor(playersAt(0, players, amplitude), 10s)) << speakers.recent();

    for (const auto& player : crowd) {
        const std::string pid = std::to_string(player->pid());
        ASSERT_EQ(testing::ctl(session, {"set-volume", pid, "50%"}).status, 0);
        ASSERT_EQ(testing::ctl(session, {"set-output", pid, AudioSession::headphones}).status, 0);
    }
    // ctl answers at once; the engine rebuilds twenty chains twice, one after the other.
    const auto sent = std::chrono::steady_clock::now();
    EXPECT_TRUE(headphones.waitFor(playersAt(0, players, amplitude / 2), 60s))
        << headphones.recent();
    std::cout << "every app adjusted on the headphones "
              << std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count()
              << " s after the last command\n";
    EXPECT_TRUE(speakers.waitFor(playersAt(0, 0, 0), 5s)) << speakers.recent();
    // Mute and bad input reach one app only, or none.
    const std::string first = std::to_string(crowd[0]->pid());
    ASSERT_EQ(testing::ctl(session, {"mute", first}).status, 0);
    EXPECT_TRUE(headphones.waitFor(playersAt(1, players, amplitude / 2), 10s))
        << headphones.recent();
    ASSERT_EQ(testing::ctl(session, {"unmute", first}).status, 0);
    // The list as it stands, without the live levels.
    auto settled = [&] {
        auto apps = testing::appsOf(testing::ctl(session, {"list", "--json"}).output);
        for (auto& app : apps) {
            app.erase("level");
        }
        return apps.dump();
    };
    const std::string before = settled();
    EXPECT_EQ(testing::ctl(session, {"set-volume", first, "150%"}).status, 2);
    EXPECT_EQ(testing::ctl(session, {"set-output", first, "no-such-device"}).status, 2);
    EXPECT_EQ(testing::ctl(session, {"mute", "999999"}).status, 2);
    EXPECT_EQ(settled(), before);
    EXPECT_TRUE(headphones.waitFor(playersAt(0, players, amplitude / 2), 10s))
        << headphones.recent();

    // Killed: every app plays on its own route at full level again.
    ASSERT_TRUE(brindell->running()) << testing::readFile(log);
    const auto killed = std::chrono::steady_clock::now();
    brindell->signal(SIGKILL);
    ASSERT_TRUE(brindell->waitExit(5s));
    EXPECT_TRUE(speakers.waitFor(playersAt(0, players, amplitude), 10s)) << speakers.recent();
    const double back =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count();
    std::cout << "every app audible on its own route " << back << " s after SIGKILL\n";
    EXPECT_LT(back, 4.0); // 2 s as a user hears it; the meter adds three windows and its latency

    // A new brindell: every app is back at its remembered volume and output.
    const auto restarted = std::chrono::steady_clock::now();
    brindell = testing::startBrindell(session, log);
    EXPECT_TRUE(headphones.waitFor(playersAt(0, players, amplitude / 2), 60s))
        << headphones.recent() << testing::readFile(log);
    std::cout << "every app back at its volume and output "
              << std::chrono::duration<double>(std::chrono::steady_clock::now() - restarted).count()
              << " s after the restart\n";
    EXPECT_TRUE(speakers.waitFor(playersAt(0, 0, 0), 5s)) << speakers.recent();
    EXPECT_TRUE(brindell->running()) << testing::readFile(log);
    EXPECT_EQ(testing::crashDiagnostics(session), std::vector<std::string>{})
        << testing::readFile(log);

    brindell->signal(SIGTERM);
    ASSERT_TRUE(brindell->waitExit(15s));
    EXPECT_TRUE(WIFEXITED(*brindell->status()) && WEXITSTATUS(*brindell->status()) == 0)
        << "status " << *brindell->status();
    EXPECT_EQ(testing::ctl(session, {"list"}).status, 1);
    EXPECT_TRUE(speakers.waitFor(playersAt(0, players, amplitude), 10s)) << speakers.recent();
    EXPECT_FALSE(session.leftover({"com.quorvel."})) << *session.leftover({"com.quorvel."});
    EXPECT_EQ(session.wirePlumberState("restore-stream").find("com.quorvel."), std::string::npos)
        << session.wirePlumberState("restore-stream");
}

// Two instances of one application are one row; ctl takes the pid of either for it.
TEST(Ctl, ASecondInstanceJoinsItsRow) {
    AudioSession session;
    const std::string program = testing::installToneApplication(session);
    auto tone = testing::startTone(session, program, {"660:0.5"}, 1);
    LevelMeter speakers(session, AudioSession::speakers, {660, 880});
    auto brindell = testing::startBrindell(session, session.folder() + "/brindell.log");
    ASSERT_EQ(
        testing::waitForList(
            session, [&](const auto& apps) { return testing::appWithPid(apps, tone->pid()); }),
        "");
    ASSERT_EQ(testing::ctl(session, {"set-volume", std::to_string(tone->pid()), "50%"}).status, 0);
    auto second = testing::startTone(session, program, {"880:0.5"}, 1);
    EXPECT_TRUE(speakers.waitFor(LevelMeter::tonesNear({0.25, 0.25}), 10s)) << speakers.recent();
    // Until the process table is read again it may show as an app of its own; once known as a
    // second instance it joins the row, and no row of its own is left behind.
    ASSERT_EQ(testing::waitForList(session,
                                   [&](const auto& apps) {
                                       return testing::appWithPid(apps, tone->pid()) &&
                                              !testing::appWithPid(apps, second->pid());
                                   }),
              "")
        << "one row for both";
    ASSERT_EQ(testing::ctl(session, {"set-volume", std::to_string(second->pid()), "100%"}).status,
              0);
    EXPECT_TRUE(speakers.waitFor(LevelMeter::tonesNear({0.5, 0.5}), 10s)) << speakers.recent();
}

// The target.node WirePlumber's metadata holds for a stream node ("none" without one).
std::string targetNodeOf(AudioSession& session, const std::string& node) {
    for (const auto& object : session.dump()) {
        for (const auto& e : object.value("metadata", nlohmann::json::array())) {
            if (std::to_string(e.value("subject", -1)) == node &&
                e.value("key", "") == "target.node") {
                return e["value"].is_string() ? e["value"].get<std::string>() : e["value"].dump();
            }
        }
    }
    return "none";
}

// Moves pid's stream to sink as pavucontrol does (pipewire-pulse's move-sink-input) and waits
// until the server holds the move. Under load pipewire-pulse (0.3.65) now and then answers a
// move from a fresh connection and writes nothing; the user would move it again, and so do we.
// Each move here changes the stream's target.node, so a changed one is the move held.
bool moveInOtherMixer(AudioSession& session, int pid, const std::string& sink) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        // One line of JSON, ended here: the reader takes whole lines.
        const std::string text =
            session.outputOf({"/bin/sh", "-c", "pactl -f json list sink-inputs; echo"});
        std::optional<std::pair<std::string, std::string>> input; // its index and node id
        const auto inputs = nlohmann::json::parse(text, nullptr, false);
        for (const auto& each : inputs.is_array() ? inputs : nlohmann::json::array()) {
            if (each["properties"].value("application.process.id", "") == std::to_string(pid)) {
                input = {std::to_string(each.value("index", -1)),
                         each["properties"].value("object.id", "")};
            }
        }
        const std::string before = input ? targetNodeOf(session, input->second) : "";
        std::string seen = before;
        if (!input || session.runToEnd({"pactl", "move-sink-input", input->first, sink}) != 0) {
            return false;
        }
        if (testing::waitUntil(
                [&] {
                    seen = targetNodeOf(session, input->second);
                    return seen != before && seen != "none";
                },
                5s)) {
            return true;
        }
        std::fprintf(stderr,
                     "pactl's move of %s to %s was not held (target.node %s); moving it again\n",
                     input->first.c_str(), sink.c_str(), seen.c_str());
    }
    return false;
}

// Routing the user made in another mixer (pactl move-sink-input, as pavucontrol does it) is where
// an adjusted app plays, moves made there meanwhile are followed, and what WirePlumber stores
// for the app stays the user's choice through everything brindell does: adjusting, the app
// quitting, a kill and a restart, a normal end.
TEST(Routing, AnotherMixersChoiceIsWhereTheAppPlaysAndStaysStored) {
    AudioSession session;
    LevelMeter speakers(session, AudioSession::speakers, {440, 660});
    LevelMeter headphones(session, AudioSession::headphones, {440, 660});
    const std::string tone = session.toneFileAt(440);
    auto startMpv = [&] {
        return session.run({"mpv", "--no-config", "--no-video", "--really-quiet", "--ao=pulse",
                            "--loop-file=inf", tone});
    };
    // What restore-stream keeps for mpv (its key is the application name).
    auto stored = [&] {
        const std::string state = session.wirePlumberState("restore-stream");
        const std::string key = "Output/Audio:application.name:mpv:target=";
        const auto at = state.find(key);
        return at == std::string::npos
                   ? std::string("(none)")
                   : state.substr(at + key.size(), state.find('\n', at) - at - key.size());
    };
    auto storedBecomes = [&](const std::string& sink) {
        return testing::waitUntil([&] { return stored() == sink; }, 5s);
    };
    // Waits until pid's row is adjusted and shows the output (none: the system default).
    auto rowOutput = [&](int pid, const char* uid) {
        return testing::waitForList(session, [&](const nlohmann::json& apps) {
            const auto* app = testing::adjustedApp(apps, pid);
            return app != nullptr &&
                   (uid == nullptr ? (*app)["outputUID"].is_null() : (*app)["outputUID"] == uid);
        });
    };
    const auto both = [](double at440, double at660) {
        return LevelMeter::tonesNear({at440, at660});
    };

    // The user's choice, made before brindell runs; a bystander stays on the default.
    auto mpv = startMpv();
    auto bystander = session.run({"paplay", session.toneFileAt(660)});
    ASSERT_TRUE(speakers.waitFor(both(0.5, 0.5), 15s)) << speakers.recent();
    ASSERT_TRUE(moveInOtherMixer(session, mpv->pid(), AudioSession::headphones));
    ASSERT_TRUE(headphones.waitFor(both(0.5, 0), 10s)) << headphones.recent();
    ASSERT_TRUE(storedBecomes(AudioSession::headphones)) << stored();

    // Adjusted: it plays where the user routed it, and the row shows that output.
    const std::string log = session.folder() + "/brindell.log";
    auto brindell = testing::startBrindell(session, log);
    const std::string pid = std::to_string(mpv->pid());
    ASSERT_EQ(rowOutput(mpv->pid(), AudioSession::headphones), "") << testing::readFile(log);
    ASSERT_EQ(testing::ctl(session, {"set-volume", pid, "50%"}).status, 0);
    EXPECT_TRUE(headphones.waitFor(both(0.25, 0), 10s)) << headphones.recent();
    EXPECT_TRUE(speakers.waitFor(both(0, 0.5), 5s)) << speakers.recent();
    EXPECT_TRUE(storedBecomes(AudioSession::headphones)) << stored();

    // Moved in the other mixer while adjusted: followed, and stored as the new choice. A move to
    // the default sink is, for pipewire-pulse, a move back to following the default.
    ASSERT_TRUE(moveInOtherMixer(session, mpv->pid(), AudioSession::speakers));
    EXPECT_TRUE(speakers.waitFor(both(0.25, 0.5), 10s)) << speakers.recent();
    EXPECT_TRUE(headphones.waitFor(both(0, 0), 5s)) << headphones.recent();
    EXPECT_EQ(rowOutput(mpv->pid(), nullptr), "");
    EXPECT_TRUE(storedBecomes("(none)")) << stored();
    ASSERT_TRUE(moveInOtherMixer(session, mpv->pid(), AudioSession::headphones));
    EXPECT_TRUE(headphones.waitFor(both(0.25, 0), 10s)) << headphones.recent();
    EXPECT_TRUE(speakers.waitFor(both(0, 0.5), 5s)) << speakers.recent();
    EXPECT_EQ(rowOutput(mpv->pid(), AudioSession::headphones), "");
    EXPECT_TRUE(storedBecomes(AudioSession::headphones)) << stored();

    // The app quits during the session: its choice stays; the next instance plays there, at
    // the volume brindell keeps for it.
    mpv->signal(SIGTERM);
    ASSERT_TRUE(mpv->waitExit(5s));
    EXPECT_TRUE(headphones.waitFor(both(0, 0), 10s)) << headphones.recent();
    std::this_thread::sleep_for(1500ms); // restore-stream saves a second after a change
    EXPECT_EQ(stored(), AudioSession::headphones);
    mpv = startMpv();
    EXPECT_TRUE(headphones.waitFor(both(0.25, 0), 15s)) << headphones.recent();
    EXPECT_TRUE(speakers.waitFor(both(0, 0.5), 5s)) << speakers.recent();

    // Killed and started again: the choice is still stored, and the app is back where it was.
    ASSERT_TRUE(brindell->running()) << testing::readFile(log);
    brindell->signal(SIGKILL);
    ASSERT_TRUE(brindell->waitExit(5s));
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(stored(), AudioSession::headphones);
    brindell = testing::startBrindell(session, log);
    EXPECT_TRUE(headphones.waitFor(both(0.25, 0), 30s)) << headphones.recent();
    EXPECT_TRUE(speakers.waitFor(both(0, 0.5), 5s)) << speakers.recent();
    EXPECT_EQ(rowOutput(mpv->pid(), AudioSession::headphones), "");
    EXPECT_TRUE(storedBecomes(AudioSession::headphones)) << stored();

    // A normal end gives the app back at its own level where the user routed it.
    brindell->signal(SIGTERM);
    ASSERT_TRUE(brindell->waitExit(15s));
    EXPECT_TRUE(headphones.waitFor(both(0.5, 0), 10s)) << headphones.recent();
    EXPECT_TRUE(speakers.waitFor(both(0, 0.5), 5s)) << speakers.recent();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(stored(), AudioSession::headphones);
    mpv->signal(SIGTERM);
    ASSERT_TRUE(mpv->waitExit(5s));
    mpv = startMpv();
    EXPECT_TRUE(headphones.waitFor(both(0.5, 0), 15s)) << headphones.recent();
    EXPECT_EQ(testing::crashDiagnostics(session), std::vector<std::string>{})
        << testing::readFile(log);
}

// Players from Debian's packages, each through its own path into the server: mpv's PipeWire
// output, GStreamer's automatic sink (pulsesink, as GStreamer apps play), ALSA's aplay through
// pipewire-alsa and ffmpeg's pulse output. Started while brindell runs, each is a row of its own
// and each is adjusted alone.
TEST(RealClients, EachIsItsOwnRowAndAdjustedAlone) {
    AudioSession session;
    const std::vector<double> tones{300, 500, 700, 900};
    LevelMeter speakers(session, AudioSession::speakers, tones);
    auto file = [&](int frequency) {
        const std::string path = session.folder() + "/real-" + std::to_string(frequency) + ".wav";
        session.runToEnd({"sox", "-n", "-r", "48000", "-c", "2", "-b", "16", path, "synth", "120",
                          "sine", std::to_string(frequency), "vol", "0.2"});
        return path;
    };
    const std::string log = session.folder() + "/brindell.log";
    auto brindell = testing::startBrindell(session, log);
    std::vector<std::unique_ptr<ChildProcess>> clients;
    clients.push_back(session.run(
        {"mpv", "--no-config", "--no-video", "--really-quiet", "--ao=pipewire", file(300)}));
    clients.push_back(session.run({"gst-launch-1.0", "-q", "audiotestsrc", "freq=500", "volume=0.2",
                                   "!", "audioconvert", "!", "autoaudiosink"}));
    clients.push_back(session.run({"aplay", "-q", file(700)}));
    clients.push_back(session.run({"ffmpeg", "-nostdin", "-loglevel", "error", "-re", "-f", "lavfi",
                                   "-i", "aevalsrc=0.2*sin(2*PI*900*t)|0.2*sin(2*PI*900*t):s=48000",
                                   "-f", "pulse", "ffmpeg"}));
    ASSERT_TRUE(speakers.waitFor(LevelMeter::tonesNear({0.2, 0.2, 0.2, 0.2}), 20s))
        << speakers.recent();

    ASSERT_EQ(testing::waitForList(
                  session,
                  [&](const nlohmann::json& apps) {
                      return std::all_of(clients.begin(), clients.end(), [&](const auto& client) {
                          return testing::adjustedApp(apps, client->pid()) != nullptr;
                      });
                  }),
              "")
        << testing::readFile(log);
    auto pidOf = [&](std::size_t i) { return std::to_string(clients[i]->pid()); };
    ASSERT_EQ(testing::ctl(session, {"set-volume", pidOf(0), "50%"}).status, 0);
    ASSERT_EQ(testing::ctl(session, {"mute", pidOf(2)}).status, 0);
    ASSERT_EQ(testing::ctl(session, {"set-volume", pidOf(3), "25%"}).status, 0);
    EXPECT_TRUE(speakers.waitFor(LevelMeter::tonesNear({0.1, 0.2, 0.0, 0.05}), 20s))
        << speakers.recent();
    EXPECT_EQ(testing::crashDiagnostics(session), std::vector<std::string>{})
        << testing::readFile(log);
}

} // namespace
} // namespace brindell
