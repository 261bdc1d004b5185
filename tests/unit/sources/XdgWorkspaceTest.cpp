#include "sources/XdgWorkspace.h"

#include "FakeProc.h"
#include "queue/DeterministicQueue.h"
#include "sources/SoundSettings.h"

#include <gtest/gtest.h>
#include <map>

namespace brindell {
namespace {

using testing::FakeProc;
using testing::TempFolder;

constexpr const char* userUnits = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";

std::string unit(const std::string& name) {
    return std::string(userUnits) + name + "\n";
}

// A desktop session in a temporary folder: a process table, installed applications in the
// user's, the system's, Flatpak's and Snap's data dirs, and programs on the search path.
class XdgWorkspaceTest : public ::testing::Test {
protected:
    TempFolder tree;
    FakeProc proc{tree};
    DeterministicScheduler clock;
    std::vector<std::vector<std::string>> launched;
    std::string browser = tree.program("opt/browser/browser");
    std::shared_ptr<XdgWorkspace> workspace;

    void SetUp() override {
        tree.program("usr/bin/python3.11");
        const auto entry = [&](const std::string& dir, const std::string& id,
                               const std::string& body) {
            tree.write(dir + "/applications/" + id + ".desktop",
                       "[Desktop Entry]\nType=Application\n" + body);
        };
        entry("usr/share", "com.example.Browser",
              "Name=Browser\nName[de]=Netz\nIcon=com.example.Browser\nExec=" + browser + " %U\n");
        entry("usr/share", "org.example.Editor", "Name=Editor\nIcon=editor.svg\nExec=editor\n");
        entry("usr/share", "python3.11", "Name=Python\nExec=python3.11\n");
        entry("flatpak/exports/share", "org.example.Flat",
              "Name=Flat\nIcon=/var/lib/flatpak/flat.png\nExec=flatpak run org.example.Flat\n");
        entry("snapd/desktop", "spotify_spotify",
              "Name=Spotify\nIcon=/snap/spotify/60/icon.png\nExec=env BAMF=1 /snap/bin/spotify\n");

        const std::string flat = "[Application]\nname=org.example.Flat\n";
        const std::string flatUnit = unit("app-flatpak-org.example.Flat-9.scope");
        const std::string init = unit("init.scope");
        proc.add(50, {1, "/usr/lib/systemd/systemd", init, std::nullopt, 100, "systemd"});
        proc.add(100, {50, browser});
        proc.add(101, {100, browser});
        proc.add(102, {101, browser});
        proc.add(103, {100, tree.path("opt/browser/crashpad")});
        proc.add(198, {50, "/usr/bin/bwrap", flatUnit});
        proc.add(199, {198, "/usr/bin/bwrap", flatUnit, flat});
        proc.add(200, {199, "/app/bin/flat", flatUnit, flat});
        proc.add(201, {200, "/app/bin/flat", flatUnit, flat});
        proc.add(300, {50, "/usr/bin/editor", unit("app-gnome-org.example.Editor-300.scope")});
        proc.add(301,
                 {300, "/usr/bin/editor-helper", unit("app-gnome-org.example.Editor-300.scope")});
        proc.add(400, {50, tree.path("usr/bin/python3.11")});
        proc.add(500, {50, "/snap/spotify/60/usr/share/spotify/spotify",
                       unit("snap.spotify.spotify-0e6bf1d8-5b55-4a6e-9e55-1f1b4ab2a5f1.scope")});
        proc.add(600, {50, "/usr/bin/mpv"});
        tree.write("proc/700/status", "a process whose stat cannot be read\n");

        XdgWorkspace::Options options;
        options.procRoot = proc.root();
        options.dataDirs = {tree.path("home/share"), tree.path("usr/share"),
                            tree.path("flatpak/exports/share"), tree.path("snapd/desktop")};
        options.searchPath = {tree.path("usr/bin")};
        options.locale = Locale::parse("de_DE.UTF-8");
        workspace = std::make_shared<XdgWorkspace>(
            options,
            [this](const std::vector<std::string>& command) {
                launched.push_back(command);
                return true;
            },
            clock);
    }
};

TEST_F(XdgWorkspaceTest, ListsTheMainProcessOfEveryRunningApplication) {
    const std::vector<RunningAppRef> expected = {
        {100, "com.example.Browser", tree.path("opt/browser")},
        {200, "org.example.Flat", "/app/bin"}, // past both sandbox launchers
        {300, "org.example.Editor", std::nullopt},
        {500, "spotify_spotify", "/snap/spotify/60/usr/share/spotify"},
    };
    EXPECT_EQ(workspace->runningApps(), expected);
    EXPECT_EQ(workspace->applicationID(102), "com.example.Browser");
    EXPECT_EQ(workspace->applicationID(103), "com.example.Browser"); // in the install folder
    EXPECT_EQ(workspace->applicationID(201), "org.example.Flat");
    EXPECT_EQ(workspace->applicationID(301), "org.example.Editor");
    EXPECT_EQ(workspace->applicationID(400), std::nullopt); // an interpreter names no app
    EXPECT_EQ(workspace->applicationID(700), std::nullopt);

    // The audio server names the application of a process nothing else identifies.
    workspace->reportApplicationID(600, "io.mpv.Mpv");
    const auto apps = workspace->runningApps();
    ASSERT_EQ(apps.size(), 5u);
    EXPECT_EQ(apps.back(), (RunningAppRef{600, "io.mpv.Mpv", std::nullopt}));

    // A pid reused by another program is looked at afresh, and forgets what was reported.
    proc.add(600, {50, "/usr/bin/other", std::nullopt, std::nullopt, 9999});
    proc.add(300, {50, "/usr/bin/other", std::nullopt, std::nullopt, 9999});
    proc.remove(301);
    EXPECT_EQ(workspace->runningApps().size(), 5u); // scanned at most once a second
    clock.advance(1.0);
    EXPECT_EQ(workspace->runningApps().size(), 3u);
    proc.add(600, {50, "/usr/bin/mpv"});
    clock.advance(1.0);
    EXPECT_EQ(workspace->runningApps().size(), 3u);
}

TEST_F(XdgWorkspaceTest, NamesAndIconsComeFromDesktopEntries) {
    EXPECT_EQ(workspace->runningApplication(100),
              (RunningAppDetails{"Netz", IconReference::theme("com.example.Browser")}));
    EXPECT_EQ(workspace->runningApplication(200),
              (RunningAppDetails{"Flat", IconReference::file("/var/lib/flatpak/flat.png")}));
    EXPECT_EQ(workspace->runningApplication(300),
              (RunningAppDetails{"Editor", IconReference::theme("editor")}));
    EXPECT_EQ(workspace->runningApplication(101), std::nullopt);
    workspace->reportApplicationID(600, "io.mpv.Mpv");
    EXPECT_EQ(workspace->runningApplication(600), RunningAppDetails{}); // no entry: no name

    const std::string entry = tree.path("usr/share/applications/com.example.Browser.desktop");
    EXPECT_EQ(workspace->applicationBundle("com.example.Browser"), entry);
    EXPECT_EQ(workspace->applicationBundle("com.example"), std::nullopt);
    EXPECT_EQ(workspace->bundleContaining(tree.path("opt/browser/crashpad")), entry);
    EXPECT_EQ(workspace->bundleNames(entry), (BundleNames{"Netz", "Browser"}));
    EXPECT_EQ(workspace->bundleDisplayName(entry), "com.example.Browser");
    EXPECT_EQ(workspace->fileIcon(entry), IconReference::theme("com.example.Browser"));
    EXPECT_EQ(workspace->fileIcon(tree.path("missing.desktop")),
              IconReference::theme("application-x-executable"));
    EXPECT_EQ(workspace->executableIcon(), IconReference::theme("application-x-executable"));

    EXPECT_EQ(XdgWorkspace::iconReference("org.example.App.png"),
              IconReference::theme("org.example.App"));
    EXPECT_EQ(XdgWorkspace::iconReference("icons/app.png"), std::nullopt);
    EXPECT_EQ(XdgWorkspace::iconReference(""), std::nullopt);
}

TEST_F(XdgWorkspaceTest, OpensTheFirstInstalledSoundSettings) {
    EXPECT_FALSE(workspace->openSoundSettings()); // none installed
    EXPECT_TRUE(launched.empty());
    const std::string pavucontrol = tree.program("usr/bin/pavucontrol");
    ASSERT_TRUE(workspace->openSoundSettings());
    EXPECT_EQ(launched.back(), std::vector<std::string>{pavucontrol});
    const std::string kde = tree.program("usr/bin/systemsettings");
    workspace->openSoundSettings();
    EXPECT_EQ(launched.back(), (std::vector<std::string>{kde, "kcm_pulseaudio"}));
    const std::string gnome = tree.program("usr/bin/gnome-control-center");
    workspace->openSoundSettings();
    EXPECT_EQ(launched.back(), (std::vector<std::string>{gnome, "sound"}));

    // A file that is not executable is not a program.
    TempFolder other;
    other.write("bin/pavucontrol", "");
    EXPECT_EQ(soundSettingsCommand({other.path("bin"), "relative"}), std::nullopt);
    XdgWorkspace::Options options;
    options.searchPath = {tree.path("usr/bin")};
    EXPECT_FALSE(XdgWorkspace(options).openSoundSettings()); // no way to start programs
}

TEST(XdgWorkspaceOptions, ComeFromTheEnvironment) {
    const auto from = [](std::map<std::string, std::string> variables) {
        return XdgWorkspace::Options::fromEnvironment(
            [variables](const std::string& name) -> std::optional<std::string> {
                const auto found = variables.find(name);
                return found == variables.end() ? std::nullopt : std::optional(found->second);
            });
    };
    const auto set = from({{"HOME", "/home/u"},
                           {"XDG_DATA_HOME", "/data/home/"},
                           {"XDG_DATA_DIRS", "/var/lib/flatpak/exports/share:rel:/usr/share::"},
                           {"PATH", "/usr/bin:.:/usr/bin:/opt/bin/"},
                           {"LC_ALL", ""},
                           {"LC_MESSAGES", "fr_CA.UTF-8"},
                           {"LANG", "de_DE.UTF-8"}});
    EXPECT_EQ(set.dataDirs,
              (std::vector<std::string>{"/data/home", "/var/lib/flatpak/exports/share",
                                        "/usr/share", "/home/u/.local/share/flatpak/exports/share",
                                        "/var/lib/snapd/desktop"}));
    EXPECT_EQ(set.searchPath, (std::vector<std::string>{"/usr/bin", "/opt/bin"}));
    EXPECT_EQ(set.locale, (Locale{"fr", "CA", ""}));
}

} // namespace
} // namespace brindell
