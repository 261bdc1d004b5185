#include "mixer/SourceVisibilityModel.h"

#include "queue/DeterministicQueue.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

AudioSource source(pid_type pid, std::string name) {
    AudioSource s;
    s.objectID = static_cast<AudioObjectID>(pid) + 1000;
    s.pid = pid;
    s.bundleID = "org.example." + name;
    s.name = std::move(name);
    s.memberPIDs = {pid};
    return s;
}

class SourceVisibilityModelTest : public ::testing::Test {
protected:
    DeterministicScheduler scheduler{0.0};
    SourceVisibilityModel model = make(5.0);
    std::vector<std::vector<VisibleSource>> published;

    const AudioSource alpha = source(10, "Alpha");
    const AudioSource beta = source(20, "Beta");
    const AudioSource gamma = source(30, "Gamma");

    SourceVisibilityModel make(Seconds coolDown) {
        SourceVisibilityModel m([this] { return scheduler.now(); }, coolDown);
        m.setOnChange(
            [this](const std::vector<VisibleSource>& list) { published.push_back(list); });
        return m;
    }

    std::vector<pid_type> order() const {
        std::vector<pid_type> pids;
        for (const VisibleSource& v : model.visibleSources()) {
            pids.push_back(v.source.pid);
        }
        return pids;
    }
};

TEST_F(SourceVisibilityModelTest, AStoppedSourceStaysForTheCoolDownThenVanishes) {
    model.update({gamma, alpha, beta});
    EXPECT_EQ(order(), (std::vector<pid_type>{10, 20, 30}));
    ASSERT_EQ(published.size(), 1u);

    scheduler.advance(1.0);
    model.update({alpha, gamma});
    ASSERT_EQ(published.size(), 2u);
    const VisibleSource stopped = published.back()[1];
    EXPECT_EQ(stopped.source.pid, 20);
    EXPECT_FALSE(stopped.isActive);
    EXPECT_EQ(stopped.expiresAt, 6.0);

    // A later update while it stays away keeps its first stop time.
    scheduler.advance(2.0);
    model.update({alpha, gamma});
    EXPECT_EQ(published.size(), 2u);

    scheduler.advance(2.875); // t = 5.875
    model.prune();
    EXPECT_EQ(order(), (std::vector<pid_type>{10, 20, 30}));
    scheduler.advance(0.125); // t = 6: due
    model.prune();
    EXPECT_EQ(order(), (std::vector<pid_type>{10, 30}));
    EXPECT_EQ(published.size(), 3u);
    model.prune();
    EXPECT_EQ(published.size(), 3u) << "an unchanged list is not published again";
}

TEST_F(SourceVisibilityModelTest, AProcessThatJoinsAnotherRowLeavesNoStoppedRowBehind) {
    AudioSource second = source(11, "Alpha");
    model.update({alpha, second, beta});
    EXPECT_EQ(order(), (std::vector<pid_type>{10, 11, 20}));

    // Known as a second instance of Alpha now: one row, and no ghost of the old one.
    AudioSource both = alpha;
    both.memberPIDs = {10, 11};
    model.update({both, beta});
    EXPECT_EQ(order(), (std::vector<pid_type>{10, 20}));

    // While its row is held it stays, as any row does, and goes when it is let go.
    model.update({alpha, second, beta});
    model.setInteracting(11);
    model.update({both, beta});
    EXPECT_EQ(order(), (std::vector<pid_type>{10, 11, 20}));
    model.setInteracting(std::nullopt);
    EXPECT_EQ(order(), (std::vector<pid_type>{10, 20}));
}

TEST_F(SourceVisibilityModelTest, ASourceBackWithinTheCoolDownIsActiveInItsOldPlace) {
    model.update({alpha, beta, gamma});
    model.update({alpha, gamma});
    model.setInteracting(30);
    scheduler.advance(3.0);
    // Back while the list is frozen: it keeps its row instead of joining at the end.
    model.update({alpha, beta, gamma});
    EXPECT_EQ(order(), (std::vector<pid_type>{10, 20, 30}));
    const VisibleSource back = published.back()[1];
    EXPECT_TRUE(back.isActive);
    EXPECT_EQ(back.expiresAt, std::nullopt);
    // And it no longer expires.
    model.setInteracting(std::nullopt);
    scheduler.advance(10.0);
    model.prune();
    EXPECT_EQ(order(), (std::vector<pid_type>{10, 20, 30}));
}

TEST_F(SourceVisibilityModelTest, InteractingFreezesOrderAndExpiryUntilItEnds) {
    model.update({beta, gamma});
    model.update({gamma}); // beta stops at 0
    model.setInteracting(30);
    scheduler.advance(6.0);
    model.update({alpha, gamma}); // alpha sorts first but joins at the end
    EXPECT_EQ(order(), (std::vector<pid_type>{20, 30, 10}));
    model.prune();
    EXPECT_EQ(order(), (std::vector<pid_type>{20, 30, 10})) << "the overdue source stays";

    const std::size_t before = published.size();
    model.setInteracting(std::nullopt);
    EXPECT_EQ(order(), (std::vector<pid_type>{10, 30}));
    EXPECT_EQ(published.size(), before + 1) << "one publication for the whole catch-up";
}

TEST_F(SourceVisibilityModelTest, NamesEqualAfterLowerCasingSortByPid) {
    model.update({source(40, "player"), source(25, "Player"), source(33, "PLAYER"),
                  source(50, "\u00c9cran"), source(51, "zebra")});
    // Lower-cased names compare by code point, so "écran" follows "zebra".
    EXPECT_EQ(order(), (std::vector<pid_type>{25, 33, 40, 51, 50}));
}

TEST_F(SourceVisibilityModelTest, OnlyChangesThatShowArePublished) {
    model.update({alpha, beta});
    ASSERT_EQ(published.size(), 1u);

    AudioSource newIcon = alpha;
    newIcon.icon = IconReference::theme("new-icon");
    model.update({newIcon, beta});
    EXPECT_EQ(published.size(), 1u) << "an icon alone is no change";

    AudioSource renamed = alpha;
    renamed.name = "Zulu";
    model.update({renamed, beta});
    ASSERT_EQ(published.size(), 2u);
    EXPECT_EQ(order(), (std::vector<pid_type>{20, 10}));

    // While interacting the renamed row keeps its place, but the new name is published.
    model.setInteracting(10);
    AudioSource again = beta;
    again.name = "Zz";
    model.update({renamed, again});
    EXPECT_EQ(published.size(), 3u);
    EXPECT_EQ(order(), (std::vector<pid_type>{20, 10}));

    AudioSource grown = renamed;
    grown.memberPIDs = {10, 11};
    model.update({grown, again});
    EXPECT_EQ(published.size(), 4u) << "a new member process is a change";
}

} // namespace
} // namespace brindell
