#include "sources/ProcFileSystem.h"

#include "FakeProc.h"
#include "sources/ApplicationIds.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace brindell {
namespace {

using testing::FakeProc;
using testing::TempFolder;

TEST(ProcFileSystem, ParsesStatWhateverTheCommandHolds) {
    const auto plain = ProcFileSystem::parseStat(
        "4321 (bash) S 4000 4321 4321 34816 4321 4194560 2000 0 0 0 4 1 0 0 20 0 1 0 98765 "
        "9000000 1200 18446744073709551615\n");
    ASSERT_TRUE(plain);
    EXPECT_EQ(*plain, (ProcFileSystem::Stat{4321, "bash", 4000, 98765}));

    // Spaces, parentheses and a newline in the command cannot shift the fields.
    const auto tricky = ProcFileSystem::parseStat(
        "77 (a) b) (c\nS 9 9) R 12 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 555 1 1");
    ASSERT_TRUE(tricky);
    EXPECT_EQ(tricky->command, "a) b) (c\nS 9 9");
    EXPECT_EQ(tricky->parentPID, 12);
    EXPECT_EQ(tricky->startTime, 555u);

    for (const char* broken : {
             "", "77 bash S 1",
             "77 (bash) S 1 1 1 0",                                          // truncated
             "77 (bash) S x 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 555",        // bad parent
             "77 (bash) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 -5",         // bad start
             "99999999999 (bash) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 5", // pid too large
         }) {
        EXPECT_EQ(ProcFileSystem::parseStat(broken), std::nullopt) << broken;
    }
}

TEST(ProcFileSystem, ReadsAProcessTreeAndSkipsWhatIsNotAProcess) {
    TempFolder tree;
    FakeProc proc(tree);
    proc.add(10, {1, "/opt/app/app (deleted)", std::nullopt, std::nullopt, 100, "app"});
    proc.add(11, {10, "/opt/app/helper"});
    proc.add(12, {11});
    tree.write("proc/self/stat", "garbage");
    tree.write("proc/0/stat", "0 (x) S 0");
    tree.write("proc/12a/stat", "");
    tree.write("proc/99999999999/stat", "");
    tree.write("proc/13/stat", "14 (liar) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 5"); // not 13

    const ProcFileSystem fs(proc.root());
    EXPECT_EQ(fs.pids(), (std::vector<pid_type>{10, 11, 12, 13}));
    EXPECT_EQ(fs.parentPID(11), 10);
    EXPECT_EQ(fs.parentPID(13), std::nullopt);
    EXPECT_EQ(fs.parentPID(404), std::nullopt);
    EXPECT_EQ(fs.executablePath(10), "/opt/app/app"); // a replaced binary still names its app
    EXPECT_EQ(fs.executablePath(11), "/opt/app/helper");
    EXPECT_EQ(fs.executablePath(12), std::nullopt);
    EXPECT_EQ(fs.flatpakInfo(10), std::nullopt);
    EXPECT_TRUE(fs.cgroup(10));
    EXPECT_EQ(ProcFileSystem("/nonexistent/brindell").pids(), std::vector<pid_type>{});

    const std::string big = tree.write("big", std::string(100000, 'x'));
    EXPECT_EQ(ProcFileSystem::readFile(big, 1000)->size(), 1000u);
    EXPECT_EQ(ProcFileSystem::readFile(tree.path("proc"), 100), std::nullopt); // a folder
}

TEST(ProcFileSystem, ReadsThisProcessFromTheRealProc) {
    const ProcFileSystem fs;
    const auto self = fs.stat(::getpid());
    ASSERT_TRUE(self);
    EXPECT_EQ(self->parentPID, ::getppid());
    char buffer[4096] = {};
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    ASSERT_GT(length, 0);
    EXPECT_EQ(fs.executablePath(::getpid()), std::string(buffer, static_cast<std::size_t>(length)));
    const auto pids = fs.pids();
    EXPECT_TRUE(std::find(pids.begin(), pids.end(), ::getpid()) != pids.end());
}

TEST(ApplicationIds, FromTheUnitTheDesktopStartedTheApplicationIn) {
    const auto id = [](const std::string& path) {
        return cgroupApplicationID("0::" + path + "\n");
    };
    const std::string user = "/user.slice/user-1000.slice/user@1000.service/app.slice/";
    EXPECT_EQ(id(user + "app-gnome-firefox\\x2desr-4321.scope"), "firefox-esr");
    EXPECT_EQ(id(user + "app-org.kde.konsole-9f8e7d.scope"), "org.kde.konsole");
    EXPECT_EQ(id(user + "app-flatpak-org.mozilla.firefox-123456.scope"), "org.mozilla.firefox");
    EXPECT_EQ(id(user + "app-gnome-org.gnome.Evolution\\x2dalarm\\x2dnotify@autostart.service"),
              "org.gnome.Evolution-alarm-notify");
    EXPECT_EQ(id(user + "app-gnome-org.example.App-77.scope/tab-2"), "org.example.App");
    EXPECT_EQ(id(user + "snap.spotify.spotify-0e6bf1d8-5b55-4a6e-9e55-1f1b4ab2a5f1.scope"),
              "spotify_spotify");
    EXPECT_EQ(id(user + "snap.firefox.firefox.0e6bf1d8-5b55-4a6e-9e55-1f1b4ab2a5f1.scope"),
              "firefox_firefox");

    // Units that are not an application's.
    EXPECT_EQ(id(user + "app-gnome-org.gnome.Terminal.slice/vte-spawn-1a2b.scope"), std::nullopt);
    EXPECT_EQ(id("/user.slice/user-1000.slice/session-2.scope"), std::nullopt);
    EXPECT_EQ(id(user + "app-1234.scope"), std::nullopt);
    EXPECT_EQ(id(user + "snap.foo.hook.configure-1.scope"), std::nullopt);
    EXPECT_EQ(id(user + "app-gnome-evil\\x2fpath-1.scope"), std::nullopt); // "/" in an id
    EXPECT_EQ(id("/snap.scope"), std::nullopt);
    EXPECT_EQ(cgroupApplicationID("garbage\n:::\n0"), std::nullopt);

    // The unified hierarchy counts; a hybrid system's name=systemd line stands in without it.
    EXPECT_EQ(cgroupApplicationID("12:cpu:/\n1:name=systemd:" + user + "app-a.b.C-1.scope\n"),
              "a.b.C");
    EXPECT_EQ(cgroupApplicationID("1:name=systemd:" + user + "app-a.b.C-1.scope\n0::" + user +
                                  "app-x.y.Z-1.scope\n"),
              "x.y.Z");
}

TEST(ApplicationIds, FromAFlatpakSandbox) {
    EXPECT_EQ(flatpakApplicationID("[Application]\nname=org.example.App\nruntime=x\n"),
              "org.example.App");
    EXPECT_EQ(flatpakApplicationID("[Runtime]\nname=org.freedesktop.Platform\n"), std::nullopt);
    EXPECT_EQ(flatpakApplicationID("[Application]\nname=../../etc\n"), std::nullopt);
    EXPECT_EQ(flatpakApplicationID(std::string("\0\xff[", 3)), std::nullopt);
}

TEST(ApplicationIds, InstallFoldersAreFoldersOfTheirOwn) {
    const std::vector<std::string> path = {"/home/u/.local/bin", "/usr/bin"};
    EXPECT_EQ(installFolder("/opt/google/chrome/chrome", path), "/opt/google/chrome");
    EXPECT_EQ(installFolder("/usr/lib/firefox-esr/firefox-esr", path), "/usr/lib/firefox-esr");
    EXPECT_EQ(installFolder("/app/lib/app/app", path), "/app/lib/app");
    for (const char* shared :
         {"/usr/bin/vlc", "/home/u/.local/bin/tool", "/opt/tool", "/tool",
          "/usr/lib/x86_64-linux-gnu/helper", "/usr/libexec/helper", "relative/tool", ""}) {
        EXPECT_EQ(installFolder(shared, path), std::nullopt) << shared;
    }
    for (const char* launcher :
         {"/usr/bin/python3.11", "/usr/bin/python3", "/bin/sh", "/usr/bin/flatpak",
          "/usr/bin/bwrap", "/usr/bin/env", "/usr/lib/electron25/electron25", "perl5.36"}) {
        EXPECT_TRUE(isLauncherProgram(launcher)) << launcher;
    }
    for (const char* program : {"/usr/bin/python-foo", "/usr/bin/vlc", "/opt/x/shutter"}) {
        EXPECT_FALSE(isLauncherProgram(program)) << program;
    }
}

} // namespace
} // namespace brindell
