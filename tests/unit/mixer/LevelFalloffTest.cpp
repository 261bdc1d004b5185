#include "mixer/LevelFalloff.h"

#include <gtest/gtest.h>
#include <limits>

namespace brindell {
namespace {

// Readings 20 times a second, as the engine sends them while the panel is open.
TEST(LevelFalloffTest, RisesAtOnceAndFallsFromFullToNothingInAboutThreeTenths) {
    LevelFalloff falloff;
    EXPECT_FLOAT_EQ(falloff.update({{1, 1.0f}}, 10.0).at(1), 1.0f);
    // Silence from now on: a steady fall, never below the reading, gone by 0.3 s.
    float before = 1.0f;
    for (int step = 1; step <= 5; ++step) {
        const float shown = falloff.update({{1, 0.0f}}, 10.0 + 0.05 * step).at(1);
        EXPECT_NEAR(shown, 1.0f - static_cast<float>(step) / 6.0f, 1e-4) << "step " << step;
        EXPECT_LT(shown, before);
        before = shown;
    }
    EXPECT_FLOAT_EQ(falloff.update({{1, 0.0f}}, 10.30).at(1), 0.0f);

    // A louder reading mid-fall wins at once; a quieter one than the fall is held off.
    falloff.update({{1, 0.8f}}, 11.0);
    EXPECT_FLOAT_EQ(falloff.update({{1, 0.2f}}, 11.15).at(1), 0.3f);
    EXPECT_FLOAT_EQ(falloff.update({{1, 0.9f}}, 11.2).at(1), 0.9f);
    // Irregular gaps fall by time, not by step count.
    EXPECT_NEAR(falloff.update({{1, 0.0f}}, 11.26).at(1), 0.7f, 1e-4);
}

TEST(LevelFalloffTest, RowsWithoutAReadingShowNothingAtOnceAndReadingsAreCleaned) {
    LevelFalloff falloff;
    falloff.update({{1, 0.6f}, {2, 0.4f}}, 0.0);
    // Row 2 muted or no longer adjusted: no entry, not a fall.
    const MixerLevels& shown = falloff.update({{1, 0.6f}}, 0.05);
    EXPECT_EQ(shown, (MixerLevels{{1, 0.6f}}));
    // Back later: its old level is forgotten.
    EXPECT_FLOAT_EQ(falloff.update({{1, 0.6f}, {2, 0.1f}}, 0.1).at(2), 0.1f);

    falloff.reset();
    EXPECT_TRUE(falloff.shown().empty());
    EXPECT_FLOAT_EQ(falloff.update({{1, 0.0f}}, 0.15).at(1), 0.0f);

    // Readings are cleaned to 0...1; a clock that steps back holds the level.
    falloff.reset();
    EXPECT_EQ(
        falloff.update({{1, 1.7f}, {2, -0.5f}, {3, std::numeric_limits<float>::quiet_NaN()}}, 0.0),
        (MixerLevels{{1, 1.0f}, {2, 0.0f}, {3, 0.0f}}));
    EXPECT_FLOAT_EQ(falloff.update({{1, 0.0f}}, -1.0).at(1), 1.0f);
}

} // namespace
} // namespace brindell
