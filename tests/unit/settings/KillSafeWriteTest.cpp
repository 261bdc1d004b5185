// Kills a process that saves the per-app settings in a loop at random moments, many times, and
// checks that the file left behind is always one whole document.

#include "settings/AppSettingsStore.h"
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
#include <memory>
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

// Save number n holds the applications "app.0" ... "app.(n % 64)", all routed to a device whose
// UID names n and at volume (n % 97 + 1) / 100, so a reader can tell a whole document from a mix
// of two. The padding makes a document span several blocks.
const std::string padding(200, 'x');

// Saves until killed; writes one byte to `ready` after the first save.
void saveForever(const fs::path& folder, long firstSave, int ready) {
    auto storage = std::make_shared<FileSettingsStorage>(folder.string(),
                                                         std::string(settingsKeys::perAppSettings));
    AppSettingsStore store(storage);
    for (long n = firstSave;; ++n) {
        store.apps().clear();
        const std::string uid = "device-" + std::to_string(n) + "-" + padding;
        for (long app = 0; app <= n % 64; ++app) {
            const std::string bundleID = "app." + std::to_string(app);
            store.setOutput(uid, bundleID, false);
            store.setVolume(static_cast<float>(n % 97 + 1) / 100.0f, bundleID, false);
        }
        store.flush();
        if (store.dirty()) {
            return; // a failed save: the parent sees an exit instead of its kill
        }
        if (n == firstSave && ::write(ready, "r", 1) != 1) {
            return;
        }
    }
}

// Whole means: it decodes, and every entry comes from the same save.
::testing::AssertionResult isWholeDocument(const std::optional<Blob>& blob, long* saveNumber) {
    if (!blob) {
        return ::testing::AssertionFailure() << "no file";
    }
    const std::string text(blob->begin(), blob->end());
    const auto file = AppSettingsStore::File::decode(text);
    if (!file || file->version != 1 || file->apps.empty()) {
        return ::testing::AssertionFailure() << "not a document: " << text.substr(0, 200);
    }
    const std::string uid = file->apps.begin()->second.outputDeviceUID.value_or("device-");
    const long save = std::strtol(uid.c_str() + std::string("device-").size(), nullptr, 10);
    if (file->apps.size() != static_cast<std::size_t>(save % 64 + 1)) {
        return ::testing::AssertionFailure()
               << "save " << save << " has " << file->apps.size() << " entries";
    }
    for (const auto& [id, setting] : file->apps) {
        if (setting.outputDeviceUID != uid ||
            setting.volume != static_cast<float>(save % 97 + 1) / 100.0f) {
            return ::testing::AssertionFailure() << "entry " << id << " is from another save";
        }
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
