#include "mixer/MixerRecords.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

TEST(MixerRowStatus, PresentationOfEveryCase) {
    using S = MixerRowStatus;
    EXPECT_EQ(presentation(S::ok(), true), std::nullopt);
    EXPECT_EQ(presentation(S::starting(), true),
              (StatusPresentation{"ellipsis.circle", "Starting\u2026", false}));
    EXPECT_EQ(presentation(S::waitingForDevice(), true),
              (StatusPresentation{"speaker.badge.exclamationmark",
                                  "The chosen output is not connected. Playing on the default "
                                  "output until it returns.",
                                  true}));
    EXPECT_EQ(presentation(S::drmRestricted(), true),
              (StatusPresentation{"shield.lefthalf.filled",
                                  "Protected audio: the system does not let Brindell adjust this "
                                  "app. It plays normally.",
                                  false}));
    EXPECT_EQ(presentation(S::needsPermission(), true),
              (StatusPresentation{"lock.slash",
                                  "Brindell needs permission to adjust this app. It plays "
                                  "normally.",
                                  true}));
    EXPECT_EQ(
        presentation(S::captureFailed("The audio system refused the link step (error -5)."), true),
        (StatusPresentation{"exclamationmark.triangle.fill",
                            "Brindell can't control this app right now. It plays normally. "
                            "The audio system refused the link step (error -5).",
                            true}));
}

TEST(MixerRowStatus, PresentationDependsOnPlayingOnlyWhileStarting) {
    // A starting row that stopped playing says nothing; every other case ignores the flag.
    EXPECT_EQ(presentation(MixerRowStatus::starting(), false), std::nullopt);
    EXPECT_EQ(presentation(MixerRowStatus::waitingForDevice(), false),
              presentation(MixerRowStatus::waitingForDevice(), true));
    EXPECT_EQ(presentation(MixerRowStatus::ok(), false), std::nullopt);
}

TEST(MixerRowStatus, EmptyFailureMessageKeepsTheFixedSentenceAndItsSpace) {
    const auto shown = presentation(MixerRowStatus::captureFailed(""), true);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->sentence, "Brindell can't control this app right now. It plays normally. ");
    EXPECT_TRUE(shown->warning);
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
    EXPECT_EQ(MixerRowStatus::captureFailed("gone").text(), "captureFailed(\"gone\")");
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

TEST(MixerSnapshot, ASnapshotDifferingOnlyInAnIconIsNoChange) {
    MixerSnapshot a;
    a.rows = {sampleRow()};
    a.outputs = {{"hdmi", "Monitor", DeviceTransport::hdmi}};
    MixerSnapshot b = a;
    b.rows[0].icon = "changed";
    EXPECT_EQ(a, b);
    b.outputs[0].transport = DeviceTransport::displayPort;
    EXPECT_NE(a, b);
    b = a;
    b.permission = PermissionState::likelyDenied;
    EXPECT_NE(a, b);
    b = a;
    b.master = OutputState{"hdmi", "Monitor", std::nullopt, std::nullopt};
    EXPECT_NE(a, b);
    b = a;
    b.defaultOutputName = "Monitor";
    EXPECT_NE(a, b);
}

} // namespace
} // namespace brindell
