#include "support/AudioSession.h"
#include "support/LevelMeter.h"
#include "support/TestFiles.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>

namespace brindell {
namespace {

using namespace std::chrono_literals;
using testing::AudioSession;
using testing::ChildProcess;
using testing::LevelMeter;

struct Outcome {
    int status = -1; // the exit status; -1 when it did not end in time or was killed
    std::string output;
};

// brindell ctl ARGS in the session, to its end.
Outcome ctl(AudioSession& session, std::vector<std::string> args) {
    args.insert(args.begin(), {BRINDELL_EXECUTABLE, "ctl"});
    auto process = session.run(args, true);
    Outcome outcome;
    while (const auto line = process->readLine(15s)) {
        outcome.output += *line + "\n";
    }
    if (process->waitExit(15s) && process->status() && WIFEXITED(*process->status())) {
        outcome.status = WEXITSTATUS(*process->status());
    }
    return outcome;
}

// The app entries of `ctl list --json`.
nlohmann::json appsOf(const std::string& output) {
    const auto document = nlohmann::json::parse(output, nullptr, false);
    if (document.is_array()) {
        return document;
    }
    return document.is_object() && document.contains("apps") ? document["apps"]
                                                             : nlohmann::json::array();
}

const nlohmann::json* appWithPid(const nlohmann::json& apps, int pid) {
    for (const auto& app : apps) {
        if (app.value("pid", 0) == pid) {
            return &app;
        }
    }
    return nullptr;
}

// The running brindell, driven by `brindell ctl` as a user's script would, with two players: the
// tone player's level follows set-volume, mute and set-output while paplay's stays; list --json
// shows it; bad input changes nothing.
TEST(CtlEndToEnd, OnePlayersLevelAndOutputFollowTheCommandLine) {
    AudioSession session;
    const std::string program = testing::installToneApplication(session);
    auto tone = testing::startTone(session, program, {"660:0.5"}, 1);
    auto pulse = session.paplay();
    LevelMeter speakers(session, AudioSession::speakers, {440, 660});
    LevelMeter headphones(session, AudioSession::headphones, {440, 660});
    // 440 Hz: paplay; 660 Hz: the tone player.
    auto levels = [](double at440, double at660) { return LevelMeter::tonesNear({at440, at660}); };
    ASSERT_TRUE(speakers.waitFor(levels(0.5, 0.5), 10s)) << speakers.recent();

    // Past the first run: the engine starts at once.
    const std::string config = session.environment().at("XDG_CONFIG_HOME") + "/brindell";
    std::filesystem::create_directories(config);
    std::ofstream(config + "/onboarding.json") << R"({"version":1,"completed":true})";

    // Its messages into a file of its own (exec: the process stays brindell itself).
    const std::string log = session.folder() + "/brindell.log";
    auto brindell =
        session.run({"/bin/sh", "-c", "exec \"$0\" 2>\"$1\"", BRINDELL_EXECUTABLE, log}, false,
                    false, {{"QT_QPA_PLATFORM", "offscreen"}, {"TMPDIR", session.folder()}});
    const int tonePid = tone->pid();
    const std::string pid = std::to_string(tonePid);
    std::string listed;
    const bool appeared = AudioSession::waitUntil(
        [&] {
            const auto list = ctl(session, {"list", "--json"});
            listed = list.output;
            const auto apps = appsOf(list.output);
            return list.status == 0 && appWithPid(apps, tonePid) && appWithPid(apps, pulse->pid());
        },
        30s);
    ASSERT_TRUE(brindell->running()) << testing::readFile(log);
    ASSERT_TRUE(appeared) << "the players never appeared in brindell ctl list:\n" << listed;
    // Passed through at unity once tapped.
    EXPECT_TRUE(speakers.waitFor(levels(0.5, 0.5), 10s)) << speakers.recent();

    ASSERT_EQ(ctl(session, {"set-volume", pid, "50%"}).status, 0);
    EXPECT_TRUE(speakers.waitFor(levels(0.5, 0.25), 10s)) << speakers.recent();
    const auto apps = appsOf(ctl(session, {"list", "--json"}).output);
    ASSERT_TRUE(appWithPid(apps, tonePid)) << apps.dump();
    EXPECT_NEAR(appWithPid(apps, tonePid)->value("volume", -1.0), 0.5, 1e-6) << apps.dump();
    EXPECT_NEAR(appWithPid(apps, pulse->pid())->value("volume", -1.0), 1.0, 1e-6) << apps.dump();

    ASSERT_EQ(ctl(session, {"mute", pid}).status, 0);
    EXPECT_TRUE(speakers.waitFor(levels(0.5, 0), 10s)) << speakers.recent();
    ASSERT_EQ(ctl(session, {"unmute", pid}).status, 0);
    EXPECT_TRUE(speakers.waitFor(levels(0.5, 0.25), 10s)) << speakers.recent();

    ASSERT_EQ(ctl(session, {"set-output", pid, AudioSession::headphones}).status, 0);
    EXPECT_TRUE(headphones.waitFor(levels(0, 0.25), 10s)) << headphones.recent();
    EXPECT_TRUE(speakers.waitFor(levels(0.5, 0), 10s)) << speakers.recent();

    // Bad input: exit 2, and nothing changes.
    const std::string before = ctl(session, {"list", "--json"}).output;
    EXPECT_EQ(ctl(session, {"set-volume", pid, "150%"}).status, 2);
    EXPECT_EQ(ctl(session, {"set-output", pid, "no-such-device"}).status, 2);
    EXPECT_EQ(ctl(session, {"mute", "999999"}).status, 2);
    EXPECT_EQ(ctl(session, {"list", "--json"}).output, before);
    EXPECT_TRUE(headphones.waitFor(levels(0, 0.25), 5s)) << headphones.recent();

    // A second instance of the app joins its row; its pid names that row too.
    auto second = testing::startTone(session, program, {"880:0.5"}, 1);
    LevelMeter both(session, AudioSession::headphones, {660, 880});
    EXPECT_TRUE(both.waitFor(LevelMeter::tonesNear({0.25, 0.25}), 10s)) << both.recent();
    ASSERT_EQ(ctl(session, {"set-volume", std::to_string(second->pid()), "100%"}).status, 0);
    EXPECT_TRUE(both.waitFor(LevelMeter::tonesNear({0.5, 0.5}), 10s)) << both.recent();
    const auto grouped = appsOf(ctl(session, {"list", "--json"}).output);
    EXPECT_TRUE(appWithPid(grouped, tonePid)) << grouped.dump();
    EXPECT_FALSE(appWithPid(grouped, second->pid())) << "one row for both: " << grouped.dump();

    brindell->signal(SIGTERM);
    ASSERT_TRUE(brindell->waitExit(15s));
    EXPECT_TRUE(WIFEXITED(*brindell->status()) && WEXITSTATUS(*brindell->status()) == 0)
        << "status " << *brindell->status();
    EXPECT_EQ(ctl(session, {"list"}).status, 1);
    // Both back on their own route at full level.
    EXPECT_TRUE(speakers.waitFor(levels(0.5, 0.5), 10s)) << speakers.recent();
}

} // namespace
} // namespace brindell
