// Kills a process that saves the per-app settings in a loop at random moments, many times, and
// checks that the file left behind is always one whole document.

#include "settings/AppSettingsStore.h"
#include "settings/FileSettingsStorage.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <random>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace brindell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The writer process, killed and reaped on every way out of a test step.
class Writer {
public:
    explicit Writer(const std::string& folder) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        readEnd_ = fds[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        std::string program = BRINDELL_SETTINGS_WRITER;
        std::string argument = folder;
        char* argv[] = {program.data(), argument.data(), nullptr};
        if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
    }
    ~Writer() {
        killAndReap();
        if (readEnd_ >= 0) {
            ::close(readEnd_);
        }
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    bool started() const { return pid_ > 0; }

    // Waits for the writer's first whole save, with a watchdog.
    bool awaitReady(std::chrono::milliseconds limit) {
        pollfd waiting{readEnd_, POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(limit.count())) != 1) {
            return false;
        }
        char line[6];
        return ::read(readEnd_, line, sizeof line) == static_cast<ssize_t>(sizeof line) &&
               std::string(line, sizeof line) == "ready\n";
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
    int readEnd_ = -1;
};

class KillSafeWriteTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "brindell-kill-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    std::size_t temporaries() const {
        std::size_t count = 0;
        for (const auto& entry : fs::directory_iterator(folder)) {
            count += entry.path().filename().string().front() == '.' ? 1u : 0u;
        }
        return count;
    }

    fs::path folder;
};

// Whole means: it decodes, and every entry comes from the same save (see SettingsWriter.cpp).
::testing::AssertionResult isWholeDocument(const std::optional<Blob>& blob, long* saveNumber) {
    if (!blob) {
        return ::testing::AssertionFailure() << "no file";
    }
    const std::string text(blob->begin(), blob->end());
    const auto file = AppSettingsStore::File::decode(text);
    if (!file || file->version != 1 || file->apps.empty()) {
        return ::testing::AssertionFailure() << "not a document: " << text.substr(0, 200);
    }
    const std::string& uid = file->apps.begin()->second.outputDeviceUID.value_or("");
    const long save = std::strtol(uid.c_str() + std::string("device-").size(), nullptr, 10);
    const auto expectedCount = static_cast<std::size_t>(save % 64 + 1);
    const float expectedVolume = static_cast<float>(save % 97 + 1) / 100.0f;
    if (file->apps.size() != expectedCount) {
        return ::testing::AssertionFailure() << "save " << save << " has " << file->apps.size()
                                             << " entries, not " << expectedCount;
    }
    for (const auto& [id, setting] : file->apps) {
        if (setting.outputDeviceUID != uid || setting.volume != expectedVolume) {
            return ::testing::AssertionFailure() << "entry " << id << " is from another save";
        }
    }
    *saveNumber = save;
    return ::testing::AssertionSuccess();
}

TEST_F(KillSafeWriteTest, AWriterKilledAtRandomMomentsAlwaysLeavesAWholeDocument) {
    constexpr int kills = 200;
    const auto deadline = std::chrono::steady_clock::now() + 45s; // inside ctest's 60 s
    const unsigned seed = std::random_device{}();
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 random(seed);
    // A save takes a few milliseconds (mostly fsync), so this spans several saves and every
    // phase of one.
    std::uniform_int_distribution<int> delayMicroseconds(0, 30000);

    FileSettingsStorage reader(folder.string(), "perAppSettings");
    int killedWhileSaving = 0;
    int leftTemporary = 0;
    long furthestSave = 0;
    std::set<long> savesSeen;
    for (int round = 0; round < kills; ++round) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "watchdog, round " << round;
        Writer writer(folder.string());
        ASSERT_TRUE(writer.started());
        ASSERT_TRUE(writer.awaitReady(10s)) << "writer never finished its first save";
        // The random moment is the point here, not a wait for a condition.
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds(random)));
        killedWhileSaving += writer.killAndReap() ? 1 : 0;

        leftTemporary += temporaries() > 0 ? 1 : 0;
        long save = -1;
        ASSERT_TRUE(isWholeDocument(reader.load(), &save)) << "after kill " << round;
        furthestSave = std::max(furthestSave, save);
        savesSeen.insert(save);
    }
    EXPECT_EQ(killedWhileSaving, kills);
    std::printf("%d kills: %d left a temporary file behind, %zu different saves found, "
                "furthest save %ld\n",
                kills, leftTemporary, savesSeen.size(), furthestSave);

    // The next save sweeps up what the killed writers left behind.
    ASSERT_TRUE(reader.save(reader.load().value()));
    EXPECT_EQ(temporaries(), 0u);
}

} // namespace
} // namespace brindell
