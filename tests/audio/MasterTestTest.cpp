#include "support/AudioSession.h"

#include <fstream>
#include <gtest/gtest.h>

namespace brindell {
namespace {

using namespace std::chrono_literals;
using testing::AudioSession;

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    std::string line;
    while (std::getline(in, line)) {
        text += line + "\n";
    }
    return text;
}

// brindell --mastertest over the output device controller and the PipeWire system control:
// every step is published and seen, and the session is left as it was found.
TEST(MasterTest, EveryStepTakesEffectAndTheStartingStateIsRestored) {
    AudioSession session;
    ASSERT_EQ(session.runToEnd({"wpctl", "set-volume", "@DEFAULT_AUDIO_SINK@", "0.8"}), 0);

    const auto code = session.runToEnd(
        {"env", "TMPDIR=" + session.folder(), BRINDELL_EXECUTABLE, "--mastertest"}, 60s);
    const std::string log = readFile(session.folder() + "/mastertest.log");
    ASSERT_TRUE(code.has_value()) << log;
    EXPECT_EQ(*code, 0) << log;
    for (const char* line : {
             "master: test-speakers \"Test Speakers\" volume 0.800 muted no\n",
             "outputs: test-speakers, test-headphones\n",
             "volume 0.3: ok\n",
             "published: test-speakers \"Test Speakers\" volume 0.300 muted no\n",
             "mute: ok\n",
             "published: test-speakers \"Test Speakers\" volume 0.300 muted yes\n",
             "unmute: ok\n",
             "default test-headphones: ok\n",
             "published: test-headphones \"Test Headphones\" volume 1.000 muted no\n",
             "default test-speakers again: ok\n",
             "restore: ok\n",
             "mastertest: 6 steps, 6 ok\n",
         }) {
        EXPECT_NE(log.find(line), std::string::npos) << "missing: " << line << log;
    }

    EXPECT_EQ(session.defaultSink(), std::optional<std::string>(AudioSession::speakers));
    auto child = session.run({"wpctl", "get-volume", "@DEFAULT_AUDIO_SINK@"}, true);
    EXPECT_EQ(child->readLine(10s), std::optional<std::string>("Volume: 0.80"));
}

} // namespace
} // namespace brindell
