#include "mixer/MixerRecords.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

// Which rows explain themselves, which warn, and that a failure carries its reason; the
// sentences themselves are the interface's texts and are not repeated here.
TEST(MixerRowStatus, PresentationByCaseAndPlaying) {
    using S = MixerRowStatus;
    struct Case {
        S status;
        bool playing;
        std::optional<bool> warning; // none: no status line
    };
    const Case cases[] = {
        {S::ok(), true, std::nullopt},         {S::ok(), false, std::nullopt},
        {S::starting(), true, false},          {S::starting(), false, std::nullopt},
        {S::waitingForDevice(), true, true},   {S::waitingForDevice(), false, true},
        {S::drmRestricted(), true, false},     {S::needsPermission(), false, true},
        {S::captureFailed("why"), true, true},
    };
    for (const Case& c : cases) {
        const auto shown = presentation(c.status, c.playing);
        ASSERT_EQ(shown.has_value(), c.warning.has_value()) << c.status.text();
        if (shown) {
            EXPECT_EQ(shown->warning, *c.warning) << c.status.text();
            EXPECT_FALSE(shown->symbol.empty());
        }
    }
    const auto failed = presentation(S::captureFailed("The link step failed (error -5)."), true);
    EXPECT_TRUE(failed->sentence.ends_with(" The link step failed (error -5)."))
        << failed->sentence;
}

TEST(MixerRowStatus, EqualityAndTextFollowCaseAndMessage) {
    EXPECT_EQ(MixerRowStatus::captureFailed("a"), MixerRowStatus::captureFailed("a"));
    EXPECT_NE(MixerRowStatus::captureFailed("a"), MixerRowStatus::captureFailed("b"));
    EXPECT_NE(MixerRowStatus::captureFailed(""), MixerRowStatus::ok());
    EXPECT_NE(MixerRowStatus::starting(), MixerRowStatus::ok());
    EXPECT_EQ(MixerRowStatus(), MixerRowStatus::ok());

    // The text tells every case and every message apart (the panel's layout key relies on it).
    const std::vector<MixerRowStatus> all = {MixerRowStatus::ok(),
                                             MixerRowStatus::starting(),
                                             MixerRowStatus::waitingForDevice(),
                                             MixerRowStatus::drmRestricted(),
                                             MixerRowStatus::needsPermission(),
                                             MixerRowStatus::captureFailed(""),
                                             MixerRowStatus::captureFailed("ok"),
                                             MixerRowStatus::captureFailed("x\")")};
    for (std::size_t i = 0; i < all.size(); ++i) {
        for (std::size_t j = i + 1; j < all.size(); ++j) {
            EXPECT_NE(all[i].text(), all[j].text()) << i << " " << j;
        }
    }
}

MixerRow sampleRow() {
    MixerRow row;
    row.pid = 42;
    row.bundleID = "org.example.player";
    row.name = "Player";
    row.icon = "org.example.player";
    row.volume = 0.5f;
    row.outputUID = "hdmi";
    return row;
}

TEST(MixerRow, EqualityIgnoresOnlyTheIcon) {
    MixerRow a = sampleRow();
    MixerRow b = sampleRow();
    b.icon = "/usr/share/pixmaps/other.png";
    EXPECT_EQ(a, b);
    b.icon.reset();
    EXPECT_EQ(a, b);

    const std::vector<std::function<void(MixerRow&)>> changes = {
        [](MixerRow& r) { r.pid = 43; },
        [](MixerRow& r) { r.bundleID.reset(); },
        [](MixerRow& r) { r.name = "Other"; },
        [](MixerRow& r) { r.volume = 0.51f; },
        [](MixerRow& r) { r.isMuted = true; },
        [](MixerRow& r) { r.isActive = false; },
        [](MixerRow& r) { r.outputUID.reset(); },
        [](MixerRow& r) { r.status = MixerRowStatus::starting(); },
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        MixerRow changed = sampleRow();
        changes[i](changed);
        EXPECT_NE(a, changed) << "change " << i;
    }
}

} // namespace
} // namespace brindell
