#include "settings/FileSettingsStorage.h"

#include "settings/SettingsKeys.h"
#include "support/TestSupport.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace brindell {
namespace {

namespace fs = std::filesystem;

Blob blobOf(const std::string& text) {
    return Blob(text.begin(), text.end());
}

std::string textOf(const std::optional<Blob>& blob) {
    return blob ? std::string(blob->begin(), blob->end()) : std::string("<none>");
}

std::string readFile(const fs::path& path) {
    std::string text(static_cast<std::size_t>(fs::file_size(path)), '\0');
    std::ifstream(path, std::ios::binary)
        .read(text.data(), static_cast<std::streamsize>(text.size()));
    return text;
}

// Names in the folder other than the settings files themselves: leftovers of a save.
std::set<std::string> strayFiles(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.front() == '.') {
            names.insert(name);
        }
    }
    return names;
}

// A fresh folder per test, removed afterwards.
class FileSettingsStorageTest : public ::testing::Test {
protected:
    testing::TempFolder temp;
    fs::path root = temp.root();
};

TEST_F(FileSettingsStorageTest, SavesOneFilePerKeyInAPrivateFolderAndLoadsItBack) {
    const fs::path folder = root / "config" / "brindell";
    FileSettingsStorage perApp(folder.string(), std::string(settingsKeys::perAppSettings));
    FileSettingsStorage hotkey(folder.string(), std::string(settingsKeys::hotkey));
    EXPECT_FALSE(perApp.load()); // absent is none, and not an error
    EXPECT_EQ(perApp.lastError(), "");

    ASSERT_TRUE(perApp.save(blobOf(R"({"apps":{},"version":1})"))) << perApp.lastError();
    ASSERT_TRUE(hotkey.save(blobOf("{}")));
    EXPECT_EQ(perApp.path(), (folder / "perAppSettings.json").string());
    EXPECT_EQ(readFile(folder / "perAppSettings.json"), R"({"apps":{},"version":1})");
    EXPECT_EQ(textOf(hotkey.load()), "{}");
    EXPECT_TRUE(strayFiles(folder).empty());

    struct stat status {};
    ASSERT_EQ(::stat(perApp.path().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    ASSERT_EQ(::stat(folder.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);

    // Replacing keeps the mode even if the file had been opened up, and binary data and the
    // empty blob round-trip.
    ::chmod(perApp.path().c_str(), 0644);
    const Blob binary = {0, 1, 2, 255, '\n', 0};
    ASSERT_TRUE(perApp.save(binary));
    EXPECT_EQ(perApp.load(), binary);
    ASSERT_EQ(::stat(perApp.path().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    ASSERT_TRUE(perApp.save({}));
    EXPECT_EQ(perApp.load(), Blob{});
}

TEST_F(FileSettingsStorageTest, FolderFollowsXdgConfigHomeElseHome) {
    testing::ScopedEnvironment environment{{"HOME", root.string()},
                                           {"XDG_CONFIG_HOME", "/somewhere/config"}};
    EXPECT_EQ(FileSettingsStorage::defaultDirectory(), "/somewhere/config/brindell");
    environment.set("XDG_CONFIG_HOME", "relative/config"); // not absolute: ignored
    EXPECT_EQ(FileSettingsStorage::defaultDirectory(), (root / ".config/brindell").string());
    environment.set("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_TRUE(FileSettingsStorage(std::string(settingsKeys::onboarding)).save(blobOf("x")));
    EXPECT_EQ(readFile(root / ".config/brindell/onboarding.json"), "x");
}

TEST_F(FileSettingsStorageTest, WhatIsNotARegularReadableFileLoadsAsNone) {
    const fs::path folder = root / "brindell";
    fs::create_directories(folder);

    // A folder in the file's place.
    fs::create_directory(folder / "hotkey.json");
    FileSettingsStorage hotkey(folder.string(), "hotkey");
    EXPECT_FALSE(hotkey.load());
    EXPECT_NE(hotkey.lastError(), "");
    EXPECT_FALSE(hotkey.save(blobOf("x"))); // nor is it replaced by a file
    EXPECT_TRUE(fs::is_directory(folder / "hotkey.json"));
    EXPECT_TRUE(strayFiles(folder).empty());

    // A FIFO must not block the caller.
    ASSERT_EQ(::mkfifo((folder / "onboarding.json").c_str(), 0600), 0);
    FileSettingsStorage onboarding(folder.string(), "onboarding");
    EXPECT_FALSE(onboarding.load());
    EXPECT_NE(onboarding.lastError(), "");

    // Far larger than any document this program writes.
    {
        std::ofstream big(folder / "crashconsent.json", std::ios::binary);
        const std::string chunk(std::size_t{1024} * 1024, ' ');
        for (std::size_t i = 0; i <= FileSettingsStorage::maximumSize / chunk.size(); ++i) {
            big << chunk;
        }
    }
    FileSettingsStorage consent(folder.string(), "crashconsent");
    EXPECT_FALSE(consent.load());
    EXPECT_NE(consent.lastError(), "");
}

TEST_F(FileSettingsStorageTest, AWriteThatFailsHalfWayLeavesThePreviousFileWhole) {
    const fs::path folder = root / "brindell";
    FileSettingsStorage storage(folder.string(), "perAppSettings");
    const std::string previous = R"({"apps":{"a":{"isMuted":true,"volume":0.5}},"version":1})";
    ASSERT_TRUE(storage.save(blobOf(previous)));

    // A file size limit makes the write stop part way, as a full disk would.
    struct sigaction ignore {};
    struct sigaction saved {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &saved), 0);
    rlimit savedLimit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &savedLimit), 0);
    rlimit small = savedLimit;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved100k = storage.save(Blob(100'000, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &savedLimit);
    ::sigaction(SIGXFSZ, &saved, nullptr);

    EXPECT_FALSE(saved100k);
    EXPECT_NE(storage.lastError().find("cannot write"), std::string::npos) << storage.lastError();
    EXPECT_EQ(textOf(storage.load()), previous);
    EXPECT_TRUE(strayFiles(folder).empty());
    EXPECT_TRUE(storage.save(blobOf("after"))); // and the next save works
    EXPECT_EQ(storage.lastError(), "");
}

TEST_F(FileSettingsStorageTest, LeftoversOfDeadWritersAreSweptAndLiveOnesKept) {
    const fs::path folder = root / "brindell";
    fs::create_directories(folder);
    // A pid that cannot be running: past the kernel's largest.
    const std::string dead = ".perAppSettings.json.tmp-99999999-abcdef";
    const std::string deadOtherKey = ".hotkey.json.tmp-99999999-abcdef";
    const std::string live = ".perAppSettings.json.tmp-" + std::to_string(::getppid()) + "-abcdef";
    const std::string notOurs = ".perAppSettings.json.tmp-notapid";
    for (const auto& name : {dead, deadOtherKey, live, notOurs}) {
        std::ofstream(folder / name) << "partial";
    }
    FileSettingsStorage storage(folder.string(), "perAppSettings");
    ASSERT_TRUE(storage.save(blobOf("whole")));
    EXPECT_EQ(strayFiles(folder), (std::set<std::string>{deadOtherKey, live, notOurs}));
}

} // namespace
} // namespace brindell
