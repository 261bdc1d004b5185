#include "XvfbServer.h"
#include "support/AudioSession.h"
#include "support/LevelMeter.h"
#include "support/TestFiles.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace brindell {
namespace {

using namespace std::chrono_literals;
using testing::AudioSession;
using testing::LevelMeter;
using testing::readFile;
using Window = LevelMeter::Window;

// brindell as a user runs it, on a private X server and a private audio session with two
// players: the shortcut toggles the panel, which lists both apps by name, and the panel's keys
// change the real level of the chosen app only.
class ShellEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(xvfb.display().empty()) << xvfb.error();
        toneProgram = testing::installToneApplication(session);
        panelLog = session.folder() + "/panel.log";
        // A user who has been through the welcome window: the mixer starts at launch.
        const std::string settings = session.folder() + "/config/brindell";
        std::filesystem::create_directories(settings);
        std::ofstream(settings + "/onboarding.json") << R"({"completed":true,"version":1})";
    }

    bool press(const std::string& keys) {
        return test::runOnDisplay(xvfb.display(), {"xdotool", "key", "--delay", "50", keys});
    }

    // The last line of the panel's trace that starts with prefix.
    std::string lastTrace(const std::string& prefix) const {
        std::istringstream text(readFile(panelLog));
        std::string found;
        for (std::string line; std::getline(text, line);) {
            found = line.rfind(prefix, 0) == 0 ? line : found;
        }
        return found;
    }

    // The shortcut is grabbed once brindell runs; presses it until the panel shows every row.
    // A press that finds the panel open closes it, so each round looks at the last event.
    bool showPanel(const std::vector<std::string>& rows) {
        return testing::waitUntil(
            [&] {
                const std::string last = lastTrace("");
                if (last.rfind("shown", 0) == 0 &&
                    std::all_of(rows.begin(), rows.end(), [&](const std::string& row) {
                        return last.find(row) != std::string::npos;
                    })) {
                    return true;
                }
                press("ctrl+shift+super+m");
                testing::waitUntil([&] { return lastTrace("") != last; }, 2s);
                return false;
            },
            30s);
    }

    std::unique_ptr<testing::ChildProcess> startBrindell() {
        return session.run({BRINDELL_EXECUTABLE}, false, false,
                           {{"DISPLAY", xvfb.display()},
                            {"QT_QPA_PLATFORM", "xcb"},
                            {"BRINDELL_PANEL_LOG", panelLog},
                            {"TMPDIR", session.folder()}});
    }

    test::XvfbServer xvfb;
    AudioSession session;
    std::string panelLog;
    std::string toneProgram;
};

TEST_F(ShellEndToEnd, TheShortcutOpensThePanelAndItsKeysChangeTheChosenAppsLevel) {
    auto tone = testing::startTone(session, toneProgram, {"660:0.5"}, 1);
    auto pulse = session.paplay();
    LevelMeter speakers(session, AudioSession::speakers, {440, 660});
    // 440 Hz: paplay; 660 Hz: the tone player.
    auto levels = [](double at440, double at660) { return LevelMeter::tonesNear({at440, at660}); };
    ASSERT_TRUE(speakers.waitFor(levels(0.5, 0.5), 10s)) << speakers.recent();

    auto brindell = startBrindell();
    const std::string toneRow =
        "\"" + std::string(testing::toneAppName) + "\" " + std::to_string(tone->pid()) + " ";
    const std::string pulseRow = "\" " + std::to_string(pulse->pid()) + " ";
    const bool shown = showPanel({toneRow, pulseRow});
    ASSERT_TRUE(shown) << readFile(panelLog) << session.logs();
    EXPECT_TRUE(brindell->running());

    // Down moves from the master section through the rows; stop at the tone player's.
    const std::string toneTarget = "target row(" + std::to_string(tone->pid()) + ")";
    for (int i = 0; i < 4 && lastTrace("key").find(toneTarget) == std::string::npos; ++i) {
        ASSERT_TRUE(press("Down"));
        testing::waitUntil([&] { return lastTrace("key").find("key Down") == 0; }, 2s);
    }
    ASSERT_NE(lastTrace("key").find(toneTarget), std::string::npos) << readFile(panelLog);

    // Two steps left: 90%, so the tone reaches the sink at 0.45; the other stays.
    ASSERT_TRUE(press("Left"));
    ASSERT_TRUE(press("Left"));
    EXPECT_TRUE(speakers.waitFor(levels(0.5, 0.45), 10s))
        << speakers.recent() << readFile(panelLog);
    EXPECT_NE(lastTrace("key").find(toneRow + "90%"), std::string::npos) << readFile(panelLog);

    ASSERT_TRUE(press("m"));
    EXPECT_TRUE(speakers.waitFor(levels(0.5, 0), 10s)) << speakers.recent();
    EXPECT_NE(lastTrace("key").find(toneRow + "90% muted"), std::string::npos)
        << readFile(panelLog);

    // Quitting takes every session down: both play as before, untouched.
    brindell->signal(SIGTERM);
    EXPECT_TRUE(brindell->waitExit(15s));
    EXPECT_EQ(brindell->status().value_or(-1), 0) << session.logs();
    EXPECT_TRUE(speakers.waitFor(levels(0.5, 0.5), 10s)) << speakers.recent();
    EXPECT_FALSE(session.leftover({"com.quorvel."}));
}

} // namespace
} // namespace brindell
