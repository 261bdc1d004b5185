#include "sources/WorkspaceAppInfoProvider.h"

#include "sources/BoundedCache.h"
#include "sources/TextCase.h"
#include "sources/fake/FakeWorkspace.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

using Call = FakeWorkspace::Call;

class WorkspaceAppInfoProviderTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    WorkspaceAppInfoProvider provider{workspace};

    const IconReference playerIcon = IconReference::theme("org.example.Player");
    const IconReference executable = IconReference::theme(executableIconName);

    void installPlayer(std::optional<BundleNames> names = BundleNames{"Player", "player"}) {
        workspace->install({"org.example.Player",
                            "/usr/share/applications/org.example.Player.desktop", names, playerIcon,
                            "/opt/player"});
    }
};

TEST_F(WorkspaceAppInfoProviderTest, ARunningApplicationNamesItselfAndBorrowsAMissingIcon) {
    workspace->addProcess(10, 1, "/opt/player/player");
    workspace->addProcess(11, 1, "/usr/bin/loose");
    workspace->addRunningApp({10, "org.example.Player", "/opt/player"}, {"Player", {}});
    workspace->addRunningApp({11, "org.example.Loose", std::nullopt}, {"Loose", {}});
    workspace->addRunningApp({12, "org.example.Nameless", std::nullopt}, {std::nullopt, {}});
    workspace->addRunningApp({13, "org.example.Player", "/opt/player"},
                             {"Player (running)", IconReference::file("/tmp/own.png")});
    installPlayer();
    EXPECT_EQ(provider.info(13, "org.example.Player"),
              (AppInfo{"Player (running)", IconReference::file("/tmp/own.png")}));
    EXPECT_EQ(provider.info(10, std::nullopt), (AppInfo{"Player", playerIcon}));
    EXPECT_EQ(provider.info(11, std::nullopt), (AppInfo{"Loose", std::nullopt}));
    // Without a name the running application is passed over.
    EXPECT_EQ(provider.info(12, std::nullopt), (AppInfo{"Process 12", std::nullopt}));
}

TEST_F(WorkspaceAppInfoProviderTest, AHelperIDIsShortenedToItsInstalledApplication) {
    installPlayer();
    EXPECT_EQ(provider.info(20, "org.example.Player.helper.renderer"),
              (AppInfo{"Player", playerIcon}));
    EXPECT_EQ(workspace->callCount(Call::applicationBundle), 3u);

    // Shortening stops at two parts; nothing installed: a name made from the id.
    workspace->clearCalls();
    EXPECT_EQ(provider.info(21, "com.example.widget.helper.renderer"),
              (AppInfo{"Widget", std::nullopt}));
    EXPECT_EQ(workspace->callCount(Call::applicationBundle), 4u); // 5, 4, 3 and 2 parts
    EXPECT_EQ(provider.info(22, "helper.GPU"), (AppInfo{"Helper.GPU", std::nullopt}));
    EXPECT_EQ(provider.info(23, "single"), (AppInfo{"Single", std::nullopt}));
}

TEST_F(WorkspaceAppInfoProviderTest, InstalledNamesFallBackInOrder) {
    workspace->install({"a.b.display", "/apps/a.b.display.desktop", BundleNames{"Disp", "Plain"},
                        playerIcon, std::nullopt});
    workspace->install({"a.b.plain", "/apps/a.b.plain.desktop", BundleNames{std::nullopt, "Plain"},
                        playerIcon, std::nullopt});
    workspace->install(
        {"a.b.none", "/apps/a.b.none.desktop", BundleNames{}, playerIcon, std::nullopt});
    workspace->install(
        {"a.b.broken", "/apps/a.b.broken.desktop", std::nullopt, playerIcon, std::nullopt});
    workspace->setBundleDisplayName("/apps/a.b.broken.desktop", "Broken App");
    EXPECT_EQ(provider.info(1, "a.b.display").name, "Disp");
    EXPECT_EQ(provider.info(1, "a.b.plain").name, "Plain");
    EXPECT_EQ(provider.info(1, "a.b.none").name, "a.b.none");
    EXPECT_EQ(provider.info(1, "a.b.broken"), (AppInfo{"Broken App", playerIcon}));
}

TEST_F(WorkspaceAppInfoProviderTest, ExecutablesAreNamedByTheirApplicationOrTheirFile) {
    installPlayer();
    workspace->addProcess(30, 1, "/opt/player/bin/worker");
    workspace->addProcess(31, 1, "/usr/local/bin/beep");
    workspace->addProcess(32, 1, "/opt/player-tools/tool");
    EXPECT_EQ(provider.info(30, std::nullopt), (AppInfo{"Player", playerIcon}));
    EXPECT_EQ(provider.info(31, std::nullopt), (AppInfo{"beep", executable}));
    EXPECT_EQ(provider.info(32, std::nullopt), (AppInfo{"tool", executable}));
    // An id with no installed application gives way to the executable.
    EXPECT_EQ(provider.info(31, "org.example.Beep"), (AppInfo{"beep", executable}));
}

TEST_F(WorkspaceAppInfoProviderTest, TheNameAnAppGivesComesAfterItsInstallationAndBeforeItsFile) {
    installPlayer();
    // paplay is a symlink to pacat: one file, two programs.
    workspace->addProcess(50, 1, "/usr/bin/pacat");
    workspace->setGivenName(50, "paplay");
    workspace->addProcess(51, 1, "/usr/bin/pacat");
    workspace->setGivenName(51, "pacat");
    EXPECT_EQ(provider.info(50, std::nullopt), (AppInfo{"paplay", executable}));
    EXPECT_EQ(provider.info(51, std::nullopt), (AppInfo{"pacat", executable}));
    // The installed application's name wins.
    workspace->addProcess(52, 1, "/opt/player/bin/worker");
    workspace->setGivenName(52, "worker");
    EXPECT_EQ(provider.info(52, std::nullopt).name, "Player");
    // A client whose process cannot be read: only the name it gives.
    workspace->setGivenName(firstClientIdentity + 7, "mpv Media Player");
    EXPECT_EQ(provider.info(firstClientIdentity + 7, std::nullopt),
              (AppInfo{"mpv Media Player", executable}));
    workspace->setGivenName(firstClientIdentity + 8, "Boxed Player");
    EXPECT_EQ(provider.info(firstClientIdentity + 8, "org.example.Boxed").name, "Boxed Player");
}

TEST_F(WorkspaceAppInfoProviderTest, CacheHitsCostOnePathReadAndShareByBundleID) {
    installPlayer();
    workspace->addProcess(40, 1, "/opt/player/a");
    workspace->addProcess(41, 1, "/opt/player/b");
    const AppInfo first = provider.info(40, "org.example.Player");
    workspace->clearCalls();
    EXPECT_EQ(provider.info(41, "org.example.Player"), first);
    EXPECT_EQ(workspace->totalCalls(), 1u);
    EXPECT_EQ(workspace->callCount(Call::executablePath), 1u);

    // Without an id the path (with the name the process gives) is the key, then the pid; a hit
    // also asks for that name.
    workspace->addProcess(42, 1, "/usr/bin/beep");
    workspace->addProcess(43, 1, "/usr/bin/beep");
    provider.info(42, std::nullopt);
    workspace->clearCalls();
    EXPECT_EQ(provider.info(43, std::nullopt).name, "beep");
    EXPECT_EQ(workspace->totalCalls(), 2u);
    EXPECT_EQ(workspace->callCount(Call::givenName), 1u);
    provider.info(44, std::nullopt);
    EXPECT_EQ(provider.info(45, std::nullopt).name, "Process 45");
}

TEST(BoundedCache, KeepsAtMostLimitAndForgetsTheLeastRecentlyUsed) {
    BoundedCache<std::string, int> cache(3);
    cache.set("a", 1);
    cache.set("b", 2);
    cache.set("c", 3);
    EXPECT_EQ(cache.get("a"), 1);
    cache.set("d", 4); // b is the least recently used
    EXPECT_FALSE(cache.contains("b"));
    EXPECT_EQ(cache.order(), (std::vector<std::string>{"c", "a", "d"}));
    cache.set("c", 30); // overwriting refreshes
    EXPECT_EQ(cache.order(), (std::vector<std::string>{"a", "d", "c"}));
    EXPECT_EQ(cache.get("c"), 30);
    cache.set("a", std::nullopt);
    EXPECT_EQ(cache.order(), (std::vector<std::string>{"d", "c"}));
    EXPECT_EQ(cache.get("a"), std::nullopt);
    EXPECT_EQ(cache.size(), 2u);

    BoundedCache<int, int> none(0);
    none.set(1, 1);
    EXPECT_EQ(none.size(), 0u);
    EXPECT_TRUE(none.order().empty());
}

TEST(TextCase, MapsLettersOfCommonScriptsAndPassesEverythingElse) {
    EXPECT_EQ(lowerCased("Hello World 42"), "hello world 42");
    EXPECT_EQ(lowerCased("ÉCOLE Ÿ Łódź ΣΟΦΙΑ МИР Ёж"), "école ÿ łódź σοφια мир ёж");
    EXPECT_EQ(lowerCased("İ"), "i");
    EXPECT_EQ(lowerCased("日本 🎵"), "日本 🎵");
    // Bytes that are not UTF-8 stay as they are.
    EXPECT_EQ(lowerCased(std::string("A\xff\xc3(B\xe2\x82")), std::string("a\xff\xc3(b\xe2\x82"));
    EXPECT_EQ(upperCasedFirst("élan vital"), "Élan vital");
    EXPECT_EQ(upperCasedFirst("ÿ"), "Ÿ");
    EXPECT_EQ(upperCasedFirst("żółw"), "Żółw");
    EXPECT_EQ(upperCasedFirst(""), "");
    EXPECT_TRUE(equalsIgnoringCase("Helper", "hELPER"));
    EXPECT_FALSE(equalsIgnoringCase("helper", "helpers"));
}

} // namespace
} // namespace brindell
