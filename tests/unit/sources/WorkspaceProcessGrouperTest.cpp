#include "sources/WorkspaceProcessGrouper.h"

#include "sources/fake/FakeWorkspace.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

using Call = FakeWorkspace::Call;

class WorkspaceProcessGrouperTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    std::shared_ptr<WorkspaceProcessGrouper> grouper =
        WorkspaceProcessGrouper::overWorkspace(workspace);

    std::optional<ProcessGroup> group(pid_type pid, std::optional<std::string> bundleID = {}) {
        return grouper->group(pid, bundleID);
    }
};

TEST(WorkspaceProcessGrouperStem, IsThePartBeforeTheFirstHelperFromTheFourthPartOn) {
    using G = WorkspaceProcessGrouper;
    EXPECT_EQ(G::bundleStem("com.example.app.helper"), "com.example.app");
    EXPECT_EQ(G::bundleStem("com.Example.App.HELPER"), "com.Example.App");
    EXPECT_EQ(G::bundleStem("com.example.app.Helper.Renderer"), "com.example.app");
    EXPECT_EQ(G::bundleStem("com.example.app.media.helper"), "com.example.app.media");
    EXPECT_EQ(G::bundleStem("com.example.app.helper.helper"), "com.example.app");
    EXPECT_EQ(G::bundleStem("com..app.helper"), "com..app"); // empty parts count
    EXPECT_EQ(G::bundleStem("com.example.helper"), std::nullopt);
    EXPECT_EQ(G::bundleStem("com.example.app.helpers"), std::nullopt);
    EXPECT_EQ(G::bundleStem("helper.helper.helper"), std::nullopt);
    EXPECT_EQ(G::bundleStem(""), std::nullopt);
}

TEST_F(WorkspaceProcessGrouperTest, AnApplicationMapsToItselfAndNeedsNoOtherLookup) {
    workspace->addRunningApp({42, "org.example.Player", "/opt/player"});
    EXPECT_EQ(group(42, "something.else"), (ProcessGroup{"org.example.Player", 42}));
    EXPECT_EQ(workspace->callCount(Call::runningApps), 1u);
    EXPECT_EQ(workspace->callCount(Call::parentPID), 0u);
    EXPECT_EQ(workspace->callCount(Call::executablePath), 0u);
}

TEST_F(WorkspaceProcessGrouperTest, ANamedHelperPrefersTheInstanceThatLaunchedIt) {
    workspace->addRunningApp({300, "com.example.Browser", std::nullopt}); // another instance
    workspace->addRunningApp({700, "COM.EXAMPLE.BROWSER", std::nullopt});
    workspace->addProcess(710, 700);
    EXPECT_EQ(group(710, "com.example.browser.helper"), (ProcessGroup{"COM.EXAMPLE.BROWSER", 700}));
    EXPECT_EQ(workspace->callCount(Call::runningApps), 1u); // fetched once per call

    // Launched by neither instance: the lowest pid wins.
    workspace->addProcess(720, 1);
    EXPECT_EQ(group(720, "com.example.browser.helper"), (ProcessGroup{"com.example.Browser", 300}));

    // With no instance running, the stem as the helper spells it, without a main pid; the
    // executable path is not consulted.
    workspace->removeRunningApp(300);
    workspace->removeRunningApp(700);
    workspace->clearCalls();
    EXPECT_EQ(group(710, "com.Example.Browser.Helper.GPU"),
              (ProcessGroup{"com.Example.Browser", std::nullopt}));
    EXPECT_EQ(workspace->callCount(Call::executablePath), 0u);
}

TEST_F(WorkspaceProcessGrouperTest, EqualLowestPIDsGoToTheEarliestListed) {
    workspace->addRunningApp({50, "org.a.app", std::nullopt});
    workspace->addRunningApp({50, "ORG.A.APP", std::nullopt});
    workspace->addProcess(51, 1);
    EXPECT_EQ(group(51, "org.a.app.helper"), (ProcessGroup{"org.a.app", 50}));
}

TEST_F(WorkspaceProcessGrouperTest, AThreePartHelperIDIsMatchedOnlyByItsExecutable) {
    workspace->addRunningApp({10, "com.example", "/opt/example"});
    workspace->addProcess(11, 10, "/usr/lib/other/tool");
    EXPECT_EQ(group(11, "com.example.helper"), std::nullopt);
    workspace->addProcess(12, 10, "/opt/example/tool");
    EXPECT_EQ(group(12, "com.example.helper"), (ProcessGroup{"com.example", 10}));
}

TEST_F(WorkspaceProcessGrouperTest, AnExecutableInsideAnAncestorsInstallFolderJoinsIt) {
    // Five generations are searched; the sixth ancestor is out of reach.
    workspace->addRunningApp({100, "com.example.Browser", "/opt/browser"});
    workspace->addProcess(101, 100, "/opt/browser/browser");
    workspace->addProcess(102, 101, "/opt/browser/browser");
    workspace->addProcess(103, 102, "/opt/browser/browser");
    workspace->addProcess(104, 103, "/opt/browser/browser");
    workspace->addProcess(105, 104, "/opt/browser/plugins/helper");
    workspace->addProcess(106, 105, "/opt/browser/plugins/helper");
    EXPECT_EQ(group(105), (ProcessGroup{"com.example.Browser", 100}));
    EXPECT_EQ(group(106), std::nullopt);

    // The install folder must be a whole path component.
    workspace->addProcess(200, 100, "/opt/browser-beta/browser");
    EXPECT_EQ(group(200), std::nullopt);
    // An ancestor application without an install folder of its own groups nothing.
    workspace->addRunningApp({300, "org.example.Terminal", std::nullopt});
    workspace->addProcess(301, 300, "/opt/browser/browser");
    EXPECT_EQ(group(301), std::nullopt);
    // An unreadable executable path gives no match either.
    workspace->addProcess(302, 100, std::nullopt);
    EXPECT_EQ(group(302), std::nullopt);
}

TEST_F(WorkspaceProcessGrouperTest, TheNearestMatchingAncestorWins) {
    workspace->addRunningApp({10, "org.outer.Shell", "/opt/shared"});
    workspace->addRunningApp({20, "org.inner.App", "/opt/shared/inner"});
    workspace->addProcess(20, 10, "/opt/shared/inner/app");
    workspace->addProcess(21, 20, "/opt/shared/inner/worker");
    EXPECT_EQ(group(21), (ProcessGroup{"org.inner.App", 20}));
}

TEST_F(WorkspaceProcessGrouperTest, TheParentChainStopsAtRootsUnknownParentsAndLoops) {
    workspace->addProcess(10, 20);
    workspace->addProcess(20, 30);
    workspace->addProcess(30, 20); // loops back
    EXPECT_EQ(grouper->parentChain(10), (std::vector<pid_type>{20, 30}));

    workspace->addProcess(40, 41);
    workspace->addProcess(41, 1);
    EXPECT_EQ(grouper->parentChain(40), std::vector<pid_type>{41});
    workspace->addProcess(50, 0);
    EXPECT_TRUE(grouper->parentChain(50).empty());
    workspace->addProcess(60, std::nullopt);
    EXPECT_TRUE(grouper->parentChain(60).empty());
    EXPECT_TRUE(grouper->parentChain(999).empty()); // unknown process

    // A loop does not stop the search for an application in it.
    workspace->addRunningApp({30, "org.example.Loop", "/opt/loop"});
    workspace->addProcess(11, 20, "/opt/loop/x");
    EXPECT_EQ(group(11), (ProcessGroup{"org.example.Loop", 30}));
}

} // namespace
} // namespace brindell
