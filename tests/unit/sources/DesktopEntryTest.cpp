#include "sources/DesktopEntry.h"

#include "queue/DeterministicQueue.h"
#include "sources/DesktopEntryIndex.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace brindell {
namespace {

using testing::TempFolder;
using Args = std::vector<std::string>;

TEST(DesktopEntry, ReadsTheDesktopEntryGroupLeniently) {
    const auto entry = DesktopEntry::parse("# a comment\r\n"
                                           "Name=before any group\n"
                                           "[Desktop Entry]\r\n"
                                           "Type = Application\n"
                                           "Name=Music\\sPlayer\n"
                                           "Name=Second Name\n"
                                           "Name[de]=Musik\n"
                                           "Name[de_AT]=\n"
                                           "Icon=org.example.Music\n"
                                           "Exec=music --new %U\n"
                                           "a line without equals\n"
                                           "[Desktop Action new]\n"
                                           "Name=New Window\n"
                                           "[Desktop Entry]\n"
                                           "Hidden=true\n",
                                           Locale::parse("de_AT.UTF-8"));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->unlocalizedName, "Music Player");
    EXPECT_EQ(entry->name, "Musik"); // an empty translation is no translation
    EXPECT_EQ(entry->icon, "org.example.Music");
    EXPECT_EQ(entry->exec, (Args{"music", "--new"}));
    EXPECT_FALSE(entry->hidden); // a repeated group does not count

    EXPECT_FALSE(DesktopEntry::parse("[Desktop Entry]\nType=Link\nName=x\n", {}));
    EXPECT_FALSE(DesktopEntry::parse("[Other]\nType=Application\n", {}));
    EXPECT_FALSE(DesktopEntry::parse(std::string("\0\0\xff\xfe", 4), {}));
    const auto bare = DesktopEntry::parse("[Desktop Entry]\nType=Application\nIcon=\n", {});
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->name, std::nullopt);
    EXPECT_EQ(bare->icon, std::nullopt);
    EXPECT_TRUE(bare->exec.empty());
}

TEST(DesktopEntry, PicksTheBestTranslationForTheLocale) {
    const std::string text = "[Desktop Entry]\nType=Application\nName=Plain\n"
                             "Name[sr]=Sr\nName[sr@latin]=SrLatin\nName[sr_RS]=SrRS\n"
                             "Name[sr_RS@latin]=SrRSLatin\n";
    const auto name = [&](const char* locale) {
        return DesktopEntry::parse(text, Locale::parse(locale))->name.value_or("");
    };
    EXPECT_EQ(name("sr_RS.UTF-8@latin"), "SrRSLatin");
    EXPECT_EQ(name("sr_RS"), "SrRS");
    EXPECT_EQ(name("sr_ME@latin"), "SrLatin");
    EXPECT_EQ(name("sr_ME"), "Sr");
    EXPECT_EQ(name("de_DE.UTF-8"), "Plain");
    EXPECT_EQ(Locale::parse("de_DE.ISO-8859-15@euro"), (Locale{"de", "DE", "euro"}));
    EXPECT_TRUE(Locale::parse("POSIX").candidates().empty());
}

TEST(DesktopEntry, SplitsExecLinesByTheQuotingRules) {
    EXPECT_EQ(splitExec("app %U"), (Args{"app"}));
    EXPECT_EQ(splitExec("\"/opt/My App/app\" --flag %f"), (Args{"/opt/My App/app", "--flag"}));
    EXPECT_EQ(splitExec(R"(sh -c "echo \"hi\" \$HOME \\ \`x\`")"),
              (Args{"sh", "-c", R"(echo "hi" $HOME \ `x`)"}));
    EXPECT_EQ(splitExec("app --percent=100%% --file=%f"),
              (Args{"app", "--percent=100%", "--file="}));
    EXPECT_EQ(splitExec("app \"unterminated"), std::nullopt);
    EXPECT_EQ(splitExec("app %"), (Args{"app", "%"}));

    EXPECT_EQ(execProgram({"env", "GDK_BACKEND=x11", "-u", "FOO", "/opt/app/app", "%U"}),
              "/opt/app/app");
    EXPECT_EQ(execProgram({"/usr/bin/env", "A=1"}), std::nullopt);
    EXPECT_EQ(execProgram({}), std::nullopt);
}

// Installed applications in temporary data dirs, with programs the entries name.
class DesktopEntryIndexTest : public ::testing::Test {
protected:
    TempFolder tree;
    DeterministicScheduler clock;
    std::string home = tree.path("home/share");
    std::string system = tree.path("usr/share");
    std::string bin = tree.path("usr/bin");

    std::unique_ptr<DesktopEntryIndex> make(Seconds recheck = 1.0) {
        return std::make_unique<DesktopEntryIndex>(
            DesktopEntryIndex::Options{{home, "relative/share", system},
                                       Locale::parse("fr_FR"),
                                       {bin, "relative/bin"},
                                       recheck,
                                       4096},
            clock);
    }
    std::string entry(const std::string& dataDir, const std::string& id, const std::string& body) {
        std::string relative =
            dataDir.substr(tree.root().native().size() + 1) + "/applications/" + id + ".desktop";
        return tree.write(relative, "[Desktop Entry]\nType=Application\n" + body);
    }
};

TEST_F(DesktopEntryIndexTest, HigherDataDirsWinAndHiddenEntriesMaskLowerOnes) {
    entry(home, "org.example.Player", "Name=Home Player\n");
    entry(system, "org.example.Player", "Name=System Player\n");
    entry(home, "org.example.Gone", "Name=Gone\nHidden=true\n");
    entry(system, "org.example.Gone", "Name=Still here?\n");
    entry(system, "kde4/org.example.Nested", "Name=Nested\n");
    tree.write("home/share/applications/org.example.Broken.desktop", "not an entry");
    entry(system, "org.example.Broken", "Name=Fallback\n");
    entry(system, "org.example.Huge", "Name=Huge\nComment=" + std::string(5000, 'x') + "\n");
    entry(system, "org.example.Fifo", "Name=Fifo below\n");
    ASSERT_EQ(::mkfifo((home + "/applications/org.example.Fifo.desktop").c_str(), 0600), 0);
    entry(system, "org.example.A", "Name=A\n");
    entry(system, "ORG.EXAMPLE.A", "Name=Other A\n");

    auto index = make();
    EXPECT_EQ(index->entry("org.example.Player")->name, "Home Player");
    EXPECT_EQ(index->entry("org.example.Player")->path,
              home + "/applications/org.example.Player.desktop");
    EXPECT_EQ(index->entry("org.example.Gone"), std::nullopt);
    EXPECT_EQ(index->entry("kde4-org.example.Nested")->name, "Nested");
    EXPECT_EQ(index->entry("org.example.Broken")->name, "Fallback");
    EXPECT_EQ(index->entry("org.example.Huge"), std::nullopt);       // too large to be an entry
    EXPECT_EQ(index->entry("org.example.Fifo")->name, "Fifo below"); // not read, not waited on
    // Letter case is forgiven when only one entry matches.
    EXPECT_EQ(index->entry("ORG.EXAMPLE.PLAYER")->name, "Home Player");
    EXPECT_EQ(index->entry("Org.Example.A"), std::nullopt);
    EXPECT_EQ(index->entry("org.example.A")->name, "A");
}

TEST_F(DesktopEntryIndexTest, FindsTheApplicationOfAnExecutable) {
    const std::string browser = tree.program("opt/browser/browser");
    tree.program("opt/browser/browser-launcher");
    tree.link("usr/bin/browser", browser);
    tree.program("usr/bin/vlc");
    tree.program("usr/bin/python3.11");
    tree.program("opt/office/program/soffice");
    entry(system, "com.example.Browser", "Name=Browser\nExec=browser %U\n");
    entry(system, "vlc", "Name=VLC\nExec=vlc --started-from-file %U\nTryExec=vlc\n");
    entry(system, "org.videolan.vlc-extra", "Name=VLC extra\nExec=vlc --extra\n");
    entry(system, "python3.11", "Name=Python\nExec=" + bin + "/python3.11\n");
    entry(system, "office-writer",
          "Name=Writer\nExec=" + tree.path("opt/office/program/soffice") + " --writer\n");
    entry(system, "office-calc",
          "Name=Calc\nExec=" + tree.path("opt/office/program/soffice") + " --calc\n");
    auto index = make();

    const auto id = [&](const std::string& path) {
        const auto found = index->entryForExecutable(path);
        return found ? found->id : std::string("none");
    };
    EXPECT_EQ(id(browser), "com.example.Browser"); // through the PATH link
    EXPECT_EQ(id(tree.path("opt/browser/plugins/helper")), "com.example.Browser"); // its folder
    EXPECT_EQ(id(tree.path("opt/browser-beta/browser")), "none");
    EXPECT_EQ(id(bin + "/vlc"), "vlc");         // claimed twice, but named after it
    EXPECT_EQ(id(bin + "/python3.11"), "none"); // an interpreter
    EXPECT_EQ(id(tree.path("opt/office/program/soffice.bin")), "none"); // ambiguous
    EXPECT_EQ(id(bin + "/unknown"), "none");
    EXPECT_EQ(id("relative/browser"), "none");
}

TEST_F(DesktopEntryIndexTest, SeesInstalledAndRemovedApplicationsAtTheNextCheck) {
    auto index = make(1.0);
    EXPECT_EQ(index->size(), 0u); // no applications folder yet
    entry(home, "org.example.New", "Name=New\n");
    EXPECT_EQ(index->entry("org.example.New"), std::nullopt); // not checked again yet
    clock.advance(1.0);
    EXPECT_EQ(index->entry("org.example.New")->name, "New");

    entry(system, "vendor/org.example.Deep", "Name=Deep\n");
    clock.advance(1.0);
    EXPECT_EQ(index->entry("vendor-org.example.Deep")->name, "Deep");
    tree.remove("usr/share/applications/vendor");
    clock.advance(1.0);
    EXPECT_EQ(index->entry("vendor-org.example.Deep"), std::nullopt);
}

} // namespace
} // namespace brindell
