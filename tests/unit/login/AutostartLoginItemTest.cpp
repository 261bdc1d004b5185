#include "login/AutostartLoginItem.h"

#include "login/LaunchAtLoginModel.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <utility>

namespace brindell {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream(path) << text;
}

// Reads an Exec value back the way a launcher does: first the string escapes of the entry
// format, then the argument quoting. Independent of the writer on purpose.
std::vector<std::string> execArguments(const std::string& value) {
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char next = value[++i];
            text += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next;
        } else {
            text += value[i];
        }
    }
    std::vector<std::string> args;
    std::optional<std::string> current;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!quoted && c == ' ') {
            if (current) {
                args.push_back(*std::exchange(current, std::nullopt));
            }
            continue;
        }
        if (!current) {
            current.emplace();
        }
        const bool pair = i + 1 < text.size() && (c == '\\' || (c == '%' && text[i + 1] == '%'));
        if (c == '"') {
            quoted = !quoted;
        } else {
            *current += quoted && pair ? text[++i] : c;
        }
    }
    if (current) {
        args.push_back(*current);
    }
    return args;
}

std::string execValue(const std::string& entry) {
    const std::size_t start = entry.find("\nExec=") + 6;
    return entry.substr(start, entry.find('\n', start) - start);
}

class AutostartLoginItemTest : public ::testing::Test {
protected:
    fs::path entry() const { return configHome / "autostart" / AutostartLoginItem::entryFileName; }

    testing::TempFolder temp;
    fs::path root = temp.root();
    fs::path configHome = root / "config";
    const std::string exe = "/opt/Brindell Beta/bin/brindell";
};

TEST_F(AutostartLoginItemTest, TurningOnAndOffWritesAndRemovesTheEntry) {
    auto item = std::make_shared<AutostartLoginItem>(configHome.string(), exe);
    LaunchAtLoginModel model(item);
    EXPECT_EQ(model.status(), LoginItemStatus::notRegistered);

    model.set(true); // creates the missing folders too
    EXPECT_EQ(model.status(), LoginItemStatus::enabled);
    EXPECT_FALSE(model.message());
    ASSERT_TRUE(fs::is_regular_file(entry()));
    const std::string text = readFile(entry());
    EXPECT_TRUE(text.starts_with("[Desktop Entry]\nType=Application\nName=Brindell\n")) << text;
    EXPECT_EQ(execArguments(execValue(text)), std::vector<std::string>{exe});
    struct stat info {};
    ASSERT_EQ(stat(entry().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644U);
    EXPECT_EQ(
        std::distance(fs::directory_iterator(entry().parent_path()), fs::directory_iterator()),
        1); // no temp file left behind

    model.set(false);
    EXPECT_EQ(model.status(), LoginItemStatus::notRegistered);
    EXPECT_FALSE(model.message());
    EXPECT_FALSE(fs::exists(entry()));
    model.set(false); // already off
    EXPECT_FALSE(model.message());
}

TEST_F(AutostartLoginItemTest, AFailingWriteOrRemovalReportsWhyAndLeavesTheDiskAlone) {
    // A file where the autostart folder belongs (permission bits would not stop root).
    fs::create_directories(configHome);
    writeFile(configHome / "autostart", "not a folder");
    LaunchAtLoginModel model(std::make_shared<AutostartLoginItem>(configHome.string(), exe));
    model.set(true);
    EXPECT_EQ(model.status(), LoginItemStatus::notRegistered);
    EXPECT_NE(model.message().value_or("").find((configHome / "autostart").string()),
              std::string::npos); // the message names the folder
    EXPECT_EQ(readFile(configHome / "autostart"), "not a folder");

    // A folder in the entry's place cannot be unlinked: the removal says why.
    fs::remove(configHome / "autostart");
    fs::create_directories(entry() / "inside");
    model.set(false);
    EXPECT_NE(model.message().value_or("").find(entry().string()), std::string::npos);
    EXPECT_EQ(model.status(), LoginItemStatus::notRegistered);
}

TEST_F(AutostartLoginItemTest, AHiddenEntryIsOffAndTurningOnReplacesIt) {
    fs::create_directories(entry().parent_path());
    writeFile(entry(), "[Desktop Entry]\nType=Application\nExec=brindell\nHidden = true\n");
    auto item = std::make_shared<AutostartLoginItem>(configHome.string(), exe);
    EXPECT_EQ(item->status(), 0);
    // Hidden in another group does not count.
    writeFile(entry(), "[Desktop Entry]\nExec=brindell\n[Desktop Action x]\nHidden=true\n");
    EXPECT_EQ(item->status(), 1);

    writeFile(entry(), "[Desktop Entry]\nHidden=true\n");
    LaunchAtLoginModel model(item);
    model.set(true);
    EXPECT_EQ(model.status(), LoginItemStatus::enabled);
    EXPECT_EQ(readFile(entry()).find("Hidden"), std::string::npos);
}

TEST_F(AutostartLoginItemTest, UnusablePathsAreRefusedBeforeAnythingIsWritten) {
    LaunchAtLoginModel model(
        std::make_shared<AutostartLoginItem>(configHome.string(), "/tmp/a\nExec=/bin/evil"));
    model.set(true);
    EXPECT_TRUE(model.message());
    EXPECT_FALSE(fs::exists(configHome));

    LaunchAtLoginModel unknown(std::make_shared<AutostartLoginItem>("", exe));
    EXPECT_EQ(unknown.status(), LoginItemStatus::notRegistered);
    unknown.set(true);
    EXPECT_TRUE(unknown.message());
}

TEST(DesktopExecArgument, AnyPrintablePathSurvivesTheLauncherRoundTrip) {
    for (const std::string path : {
             "/usr/bin/brindell",
             "/opt/My Apps/brindell",
             "/home/a\"b/brindell",
             "/home/$HOME/`id`/brindell",
             "/home/100%/%f/brindell",
             "/home/'single' ;&|<>*?#()~/brindell",
             "/home/J\u00fcrgen/\u97f3\u91cf/brindell",
         }) {
        EXPECT_EQ(execArguments(desktopExecArgument(path)), std::vector<std::string>{path})
            << desktopExecArgument(path);
    }
    EXPECT_THROW(desktopExecArgument(""), LoginItemError);
    EXPECT_THROW(desktopExecArgument("/a\tb"), LoginItemError);
    EXPECT_THROW(desktopExecArgument("/a\xff/b"), LoginItemError);
    EXPECT_THROW(desktopExecArgument("/a\xc0\xaf"), LoginItemError); // overlong '/'
}

TEST(UserConfigHome, FollowsXdgRulesAndIgnoresARelativeSetting) {
    testing::ScopedEnvironment environment{{"HOME", "/home/tester"},
                                           {"XDG_CONFIG_HOME", "/custom/config"}};
    EXPECT_EQ(userConfigHome(), "/custom/config");
    environment.set("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(userConfigHome(), "/home/tester/.config");
    environment.set("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(userConfigHome(), "/home/tester/.config");
}

TEST(RunningExecutablePath, NamesThisTestProgram) {
    const std::string path = runningExecutablePath();
    EXPECT_TRUE(path.ends_with("/unit_login")) << path;
}

} // namespace
} // namespace brindell
