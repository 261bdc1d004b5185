#include "mixer/PreviewContent.h"

#include "mixer/PreviewMixerEngine.h"

#include <gtest/gtest.h>
#include <set>

namespace brindell {
namespace {

TEST(PreviewContent, StatesChangeOnlyWhatTheyName) {
    const MixerSnapshot canned = PreviewMixerEngine::cannedSnapshot();
    EXPECT_EQ(previewSnapshot(PreviewState::canned, 0), canned);
    EXPECT_EQ(previewSnapshot(PreviewState::granted, 0).permission, PermissionState::granted);

    const MixerSnapshot denied = previewSnapshot(PreviewState::denied, 0);
    EXPECT_EQ(denied.permission, PermissionState::likelyDenied);
    for (const auto& row : denied.rows) {
        EXPECT_EQ(row.status, MixerRowStatus::needsPermission());
    }
    EXPECT_FALSE(previewSnapshot(PreviewState::noOutput, 0).master);
    const auto fixed = previewSnapshot(PreviewState::fixedVolume, 0).master;
    ASSERT_TRUE(fixed);
    EXPECT_FALSE(fixed->volume);
    EXPECT_FALSE(fixed->isMuted);
    EXPECT_TRUE(previewSnapshot(PreviewState::empty, 5).rows.empty());
}

TEST(PreviewContent, ExtraRowsAreDistinctAndShowEveryStatus) {
    const MixerSnapshot many = previewSnapshot(PreviewState::canned, 30);
    ASSERT_EQ(many.rows.size(), 34u);
    std::set<pid_type> pids;
    std::set<std::string> names;
    std::set<MixerRowStatus::Kind> kinds;
    bool withoutBundle = false;
    for (const auto& row : many.rows) {
        pids.insert(row.pid);
        names.insert(row.name);
        kinds.insert(row.status.kind());
        withoutBundle = withoutBundle || !row.bundleID;
        EXPECT_GE(row.volume, 0.0f);
        EXPECT_LE(row.volume, 1.0f);
    }
    EXPECT_EQ(pids.size(), many.rows.size());
    EXPECT_EQ(names.size(), many.rows.size());
    EXPECT_TRUE(withoutBundle);
    EXPECT_EQ(kinds.size(), 5u) << "ok, starting, waiting (canned), protected and failed";
    EXPECT_EQ(previewSnapshot(PreviewState::canned, 1000).rows.size(), 4u + maxExtraRows);
    EXPECT_EQ(previewSnapshot(PreviewState::canned, -3).rows.size(), 4u);
}

} // namespace
} // namespace brindell
