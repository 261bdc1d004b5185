#include "audio/Volume.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace brindell {
namespace {

TEST(Volume, OneCleaningRule) {
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    constexpr float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float value;
        float inForce;
        float cleaned;
    };
    const Case cases[] = {
        {0.25f, 0.8f, 0.25f}, {0.0f, 0.8f, 0.0f},  {1.0f, 0.0f, 1.0f},     {1.7f, 0.2f, 1.0f},
        {-0.2f, 0.8f, 0.0f},  {-0.0f, 0.8f, 0.0f}, {inf, 0.0f, 1.0f},      {-inf, 1.0f, 0.0f},
        {nan, 0.3f, 0.3f},    {nan, 0.0f, 0.0f},   {nan, 1.0f, 1.0f},      {nan, 7.0f, 1.0f},
        {nan, -1.0f, 0.0f},   {nan, nan, 0.0f},    {1e-30f, 1.0f, 1e-30f},
    };
    for (const Case& c : cases) {
        const float got = cleanVolume(c.value, c.inForce);
        EXPECT_EQ(got, c.cleaned) << c.value << " with " << c.inForce << " in force";
        EXPECT_FALSE(std::signbit(got)) << c.value; // a stored "-0" would be a new value
    }
}

} // namespace
} // namespace brindell
