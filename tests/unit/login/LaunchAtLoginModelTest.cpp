#include "login/LaunchAtLoginModel.h"

#include "login/fake/FakeLoginItemService.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

TEST(LaunchAtLoginModel, ConstructionReadsTheStatusOnceWithoutAMessage) {
    auto service = std::make_shared<FakeLoginItemService>();
    service->rawStatus = 2;
    LaunchAtLoginModel model(service);
    EXPECT_EQ(model.status(), LoginItemStatus::requiresApproval);
    EXPECT_TRUE(model.isOn());
    EXPECT_FALSE(model.message()); // the approval sentence comes with the first refresh
    model.refresh();
    EXPECT_EQ(model.message(), LaunchAtLoginModel::approvalMessage);

    service->rawStatus = 7;
    model.refresh();
    EXPECT_EQ(model.status(), LoginItemStatus::notFound);
    EXPECT_FALSE(model.isOn());
    EXPECT_FALSE(model.message());
}

TEST(LaunchAtLoginModel, TurningOnWithApprovalPendingShowsOnAndTheApprovalSentence) {
    auto service = std::make_shared<FakeLoginItemService>();
    service->statusAfterRegister = 2;
    LaunchAtLoginModel model(service);
    int changes = 0;
    model.setOnChange([&] { ++changes; });
    model.set(true);
    EXPECT_TRUE(model.isOn());
    EXPECT_EQ(model.message(),
              "Approve Brindell in System Settings, Login Items, to start it at login.");
    EXPECT_EQ(changes, 1);

    model.set(false);
    EXPECT_EQ(model.status(), LoginItemStatus::notRegistered);
    EXPECT_FALSE(model.message());
}

TEST(LaunchAtLoginModel, FailuresBecomeTheMessageAndTheStatusShowsWhatTheServiceHolds) {
    auto service = std::make_shared<FakeLoginItemService>();
    service->failure = "disk full";
    LaunchAtLoginModel model(service);
    model.set(true);
    EXPECT_EQ(model.status(), LoginItemStatus::notRegistered);
    EXPECT_FALSE(model.isOn());
    EXPECT_EQ(model.message(), "Could not turn on opening at login: disk full");

    service->rawStatus = 2; // registered meanwhile, and removing it fails
    model.set(false);
    EXPECT_EQ(model.status(), LoginItemStatus::requiresApproval);
    EXPECT_TRUE(model.isOn());
    EXPECT_EQ(model.message(), "Could not turn off opening at login: disk full");

    service->failure.reset();
    model.refresh();
    EXPECT_EQ(model.message(), LaunchAtLoginModel::approvalMessage);
}

} // namespace
} // namespace brindell
