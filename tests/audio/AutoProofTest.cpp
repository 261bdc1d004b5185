#include "support/AudioSession.h"
#include "support/LevelMeter.h"
#include "support/TestFiles.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace brindell {
namespace {

using namespace std::chrono_literals;
using testing::AudioSession;
using testing::LevelMeter;
using testing::readFile;

// brindell --autoproof in a private session: it finds the app (the first that plays, or the pid
// it is given), passes it through its chain at unity gain, and a stop signal ends it through the
// normal path, which takes the chain down.
TEST(AutoProofTest, PassesTheAppThroughAndEndsCleanlyOnAStopSignal) {
    AudioSession session;
    auto player = session.tonePlayer({"440:0.5"}, AudioSession::speakers);
    LevelMeter meter(session, AudioSession::speakers);
    ASSERT_TRUE(meter.waitForPeak(0.48, 0.52, 10s)) << meter.recent();

    for (const auto& [signo, givePid] : {std::pair{SIGTERM, false}, std::pair{SIGINT, true}}) {
        SCOPED_TRACE(givePid ? "SIGINT, given the pid" : "SIGTERM, the first that plays");
        std::vector<std::string> argv = {BRINDELL_EXECUTABLE, "--autoproof"};
        if (givePid) {
            argv.push_back(std::to_string(player->pid()));
        }
        const std::string log = session.folder() + "/autoproof.log";
        std::filesystem::remove(log);
        auto brindell = session.run(argv, false, false, {{"TMPDIR", session.folder()}});
        ASSERT_TRUE(testing::waitUntil(
            [&] { return readFile(log).find("PHASE passthrough") != std::string::npos; }, 20s))
            << readFile(log);
        EXPECT_NE(readFile(log).find("target pid " + std::to_string(player->pid())),
                  std::string::npos);
        EXPECT_EQ(session.linkedTargetsOf(player->pid()),
                  std::vector<std::string>{"com.quorvel.taskor.brindell.proof-aggregate"});
        // Muted on its own route and played through at unity gain: still 0.5, never 1.0.
        EXPECT_TRUE(meter.waitForPeak(0.48, 0.52, 5s, 10)) << meter.recent();

        brindell->signal(signo);
        ASSERT_TRUE(brindell->waitExit(10s));
        ASSERT_TRUE(brindell->status());
        EXPECT_TRUE(WIFEXITED(*brindell->status()) && WEXITSTATUS(*brindell->status()) == 0)
            << "status " << *brindell->status();
        const std::string text = readFile(log);
        for (const char* step :
             {"pw_filter_destroy status 0", "pw_proxy_destroy per-app sink status 0",
              "pw_metadata target.object restore status 0"}) {
            EXPECT_NE(text.find(step), std::string::npos) << step << " missing in\n" << text;
        }
        EXPECT_EQ(text.find("status -"), std::string::npos) << text;
        EXPECT_EQ(session.leftover({"com.quorvel", "Brindell"}), std::nullopt);
        EXPECT_TRUE(meter.waitForPeak(0.48, 0.52, 5s, 5)) << meter.recent();
    }
}

} // namespace
} // namespace brindell
