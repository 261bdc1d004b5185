// Kills a process that saves a settings file in a loop at random moments, many times, and checks
// that the file left behind is always one whole document.

#include "settings/FileSettingsStorage.h"
#include "settings/SettingsKeys.h"
#include "support/TestSupport.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace brindell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Save number n is "n:" and then 4096 + n % 64 * 100 copies of one letter, so that a reader can
// tell a whole document from a mix of two, and a document spans several blocks.
std::string document(long n) {
    return std::to_string(n) + ":" +
           std::string(static_cast<std::size_t>(4096 + n % 64 * 100),
                       static_cast<char>('a' + n % 26));
}

// Saves until killed; writes one byte to `ready` after the first save.
void saveForever(const fs::path& folder, long firstSave, int ready) {
    FileSettingsStorage storage(folder.string(), std::string(settingsKeys::perAppSettings));
    for (long n = firstSave;; ++n) {
        const std::string text = document(n);
        if (!storage.save(Blob(text.begin(), text.end()))) {
            return; // a failed save: the parent sees an exit instead of its kill
        }
        if (n == firstSave && ::write(ready, "r", 1) != 1) {
            return;
        }
    }
}

::testing::AssertionResult isWholeDocument(const std::optional<Blob>& blob, long* saveNumber) {
    const std::string text = blob ? std::string(blob->begin(), blob->end()) : "no file";
    const long save = std::strtol(text.c_str(), nullptr, 10);
    if (text != document(save)) {
        return ::testing::AssertionFailure() << "not one whole save: " << text.substr(0, 80);
    }
    *saveNumber = save;
    return ::testing::AssertionSuccess();
}

// A forked writer, killed and reaped on every way out of a test step.
class Writer {
public:
    Writer(const fs::path& folder, long firstSave) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            saveForever(folder, firstSave, fds[1]);
            ::_exit(1); // never back into the test framework
        }
        ::close(fds[1]);
        ready_ = fds[0];
    }
    ~Writer() {
        killAndReap();
        if (ready_ >= 0) {
            ::close(ready_);
        }
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Waits for the writer's first whole save, with a watchdog.
    bool awaitFirstSave(std::chrono::milliseconds limit) {
        pollfd waiting{ready_, POLLIN, 0};
        char byte = 0;
        return pid_ > 0 && ::poll(&waiting, 1, static_cast<int>(limit.count())) == 1 &&
               ::read(ready_, &byte, 1) == 1;
    }

    // True when the writer was still saving when the signal hit it.
    bool killAndReap() {
        if (pid_ <= 0) {
            return false;
        }
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }

private:
    pid_t pid_ = -1;
    int ready_ = -1;
};

TEST(KillSafeWrite, AWriterKilledAtRandomMomentsAlwaysLeavesAWholeDocument) {
    constexpr int kills = 200;
    constexpr int enoughKills = 50;           // what a heavily loaded machine must still manage
    constexpr long savesPerRound = 1'000'000; // numbers each round's saves apart from the last's
    const auto start = std::chrono::steady_clock::now();
    const unsigned seed = std::random_device{}();
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> fraction(0.0, 1.0);

    testing::TempFolder temp;
    FileSettingsStorage reader(temp.root().string(), std::string(settingsKeys::perAppSettings));
    long lastSave = -1;
    for (int round = 0; round < kills; ++round) {
        if (std::chrono::steady_clock::now() - start > 40s) { // inside ctest's 60 s
            ASSERT_GE(round, enoughKills) << "watchdog: the writers are far too slow";
            break;
        }
        const auto spawned = std::chrono::steady_clock::now();
        Writer writer(temp.root(), round * savesPerRound);
        ASSERT_TRUE(writer.awaitFirstSave(10s)) << "writer never finished a save, round " << round;
        // Kill within about one more save (its length varies with the disk and the build), so
        // the moments fall into every phase of a save. The random moment is the point here,
        // not a wait for a condition.
        const auto oneSave = std::chrono::steady_clock::now() - spawned;
        std::this_thread::sleep_for(
            std::chrono::duration_cast<std::chrono::microseconds>(oneSave * fraction(random)));
        ASSERT_TRUE(writer.killAndReap()) << "the writer stopped saving by itself";

        long save = -1;
        ASSERT_TRUE(isWholeDocument(reader.load(), &save)) << "after kill " << round;
        ASSERT_GE(save, lastSave) << "the file went back to an older save";
        lastSave = save;
    }
}

} // namespace
} // namespace brindell
