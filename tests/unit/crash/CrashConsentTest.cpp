#include "crash/CrashConsent.h"

#include "settings/fake/MemorySettingsStorage.h"

#include <chrono>
#include <gtest/gtest.h>

namespace brindell {
namespace {

struct CrashConsentStored : ::testing::Test {
    std::shared_ptr<MemorySettingsStorage> storage = std::make_shared<MemorySettingsStorage>();
    Seconds clock = 750000000.5;
    CrashConsent consent{storage, [this] { return clock; }};
};

TEST_F(CrashConsentStored, WritesOnlyChangesAndMovesSinceForwardOnReconsent) {
    EXPECT_FALSE(consent.isOn());
    EXPECT_TRUE(consent.set(true));
    EXPECT_EQ(storage->text(), R"({"since":750000000.5,"version":1})");
    clock += 100;
    consent.set(true);
    EXPECT_EQ(consent.since(), 750000000.5);
    EXPECT_EQ(storage->saves, 1);
    EXPECT_TRUE(consent.set(false));
    consent.set(false);
    EXPECT_EQ(storage->text(), R"({"version":1})");
    EXPECT_FALSE(consent.isOn());
    EXPECT_EQ(storage->saves, 2);
    consent.set(true);
    EXPECT_EQ(consent.since(), 750000100.5);

    // A failed write leaves the stored consent.
    storage->failWrites = true;
    EXPECT_FALSE(consent.set(false));
    EXPECT_TRUE(consent.isOn());
}

TEST(CrashConsent, UnreadableDocumentsMeanNoConsent) {
    for (const char* stored :
         {"", "garbage", "[]", "{}", R"({"since":5})", R"({"version":"1","since":5})",
          R"({"version":1.5,"since":5})", R"({"version":1,"since":"5"})",
          R"({"version":1,"since":null})", R"({"version":1,"since":true})"}) {
        auto storage = std::make_shared<MemorySettingsStorage>(stored);
        CrashConsent consent(storage, [] { return 0.0; });
        EXPECT_EQ(consent.since(), std::nullopt) << stored;
    }
    CrashConsent absent(std::make_shared<MemorySettingsStorage>(), [] { return 0.0; });
    EXPECT_FALSE(absent.isOn());
    // A newer document is read for its "since" all the same.
    CrashConsent newer(std::make_shared<MemorySettingsStorage>(R"({"version":2,"since":-3})"),
                       [] { return 0.0; });
    EXPECT_EQ(newer.since(), -3.0);
}

} // namespace
} // namespace brindell
