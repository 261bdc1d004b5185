#include "shell/OnboardingState.h"

#include "settings/fake/MemorySettingsStorage.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

bool completedWith(std::optional<std::string> stored) {
    auto storage = std::make_shared<MemorySettingsStorage>();
    if (stored) {
        storage->set(Blob(stored->begin(), stored->end()));
    }
    return OnboardingState(storage).completed();
}

TEST(OnboardingState, OnlyADecodableCompletedRecordCounts) {
    EXPECT_FALSE(completedWith(std::nullopt)) << "no record";
    EXPECT_TRUE(completedWith(R"({"version":1,"completed":true})"));
    EXPECT_TRUE(completedWith(R"({"completed":true,"version":7})")) << "any version";
    EXPECT_TRUE(completedWith(R"({"completed":true,"version":1,"later":"member"})"));
    EXPECT_FALSE(completedWith(R"({"version":1,"completed":false})"));
    EXPECT_FALSE(completedWith(R"({"version":1})")) << "completed is required";
    EXPECT_FALSE(completedWith(R"({"completed":true})")) << "version is required";
    EXPECT_FALSE(completedWith(R"({"version":"1","completed":true})"));
    EXPECT_FALSE(completedWith(R"({"version":1.5,"completed":true})"));
    EXPECT_FALSE(completedWith(R"({"version":1,"completed":"true"})"));
    EXPECT_FALSE(completedWith(R"({"version":1,"completed":1})"));
    EXPECT_FALSE(completedWith(R"([true])"));
    EXPECT_FALSE(completedWith(R"({"version":1,"completed":true)")) << "truncated";
    EXPECT_FALSE(completedWith(""));
    EXPECT_FALSE(completedWith(std::string("\xff\xfe\x00", 3)));
}

} // namespace
} // namespace brindell
