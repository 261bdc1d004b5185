#include "output/NameCollator.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace brindell {
namespace {

std::vector<std::string> sorted(const NameCollator& collator, std::vector<std::string> names) {
    std::sort(names.begin(), names.end(),
              [&](const std::string& a, const std::string& b) { return collator.less(a, b); });
    return names;
}

TEST(NameCollator, IgnoresCaseAndKeepsATotalOrder) {
    const NameCollator collator{std::locale::classic()};
    EXPECT_EQ(
        sorted(collator, {"speakers", "HDMI Monitor", "headphones", "Bluetooth", "USB"}),
        (std::vector<std::string>{"Bluetooth", "HDMI Monitor", "headphones", "speakers", "USB"}));
    // Names equal but for case still order one way, so sorting is deterministic.
    EXPECT_LT(collator.compare("Speakers", "speakers"), 0);
    EXPECT_GT(collator.compare("speakers", "Speakers"), 0);
    EXPECT_EQ(collator.compare("Speakers", "Speakers"), 0);
}

TEST(NameCollator, FoldsCaseBeyondASCII) {
    const NameCollator collator{std::locale::classic()};
    if (collator.key("\u00C9").folded != L"\u00E9") {
        GTEST_SKIP() << "no UTF-8 locale to fold with on this machine";
    }
    // Raw bytes would put "É" (C3 89) before "é" (C3 A9); folded, "éa" comes first.
    EXPECT_LT(collator.compare("\u00E9a", "\u00C9cran"), 0);
    EXPECT_EQ(sorted(collator, {"\u03A9mega", "\u03B1lpha", "\u0391rgo"}),
              (std::vector<std::string>{"\u03B1lpha", "\u0391rgo", "\u03A9mega"}));
}

TEST(NameCollator, MalformedNamesFromTheServerAreOrderedNotDropped) {
    const NameCollator collator{std::locale::classic()};
    const std::vector<std::string> names{"\xff",
                                         "\xc3", // stray and truncated lead bytes
                                         "\xc0\xaf",
                                         "\xed\xa0\x80",     // overlong form, surrogate
                                         "\xf4\x90\x80\x80", // beyond U+10FFFF
                                         std::string("a\0b", 3),
                                         std::string("a\0c", 3),
                                         "",
                                         "a"};
    EXPECT_EQ(collator.key("\xc3").folded, L"\uFFFD");
    EXPECT_EQ(collator.key("x\xc3\xa9y\xff").folded, L"x\u00E9y\uFFFD");
    EXPECT_EQ(collator.key("\xed\xa0\x80").folded.size(), 3u); // each bad byte stands alone
    for (const std::string& a : names) {
        for (const std::string& b : names) {
            const int ab = collator.compare(a, b);
            EXPECT_EQ(ab, -collator.compare(b, a)) << "antisymmetric";
            EXPECT_EQ(ab == 0, a == b) << "only equal names compare equal";
        }
    }
}

} // namespace
} // namespace brindell
