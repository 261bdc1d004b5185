#include "crash/CrashController.h"

#include "crash/fake/FakeCrashSender.h"
#include "crash/fake/FakeDiagnosticPayloadService.h"
#include "queue/DeterministicQueue.h"
#include "settings/fake/MemorySettingsStorage.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

// A diagnostic the report keeps only with a valid version; without a call stack it has no frames.
Blob diagnosticBlob(const std::string& version) {
    const std::string text = R"({"diagnosticMetaData":{"appVersion":")" + version +
                             R"(","appBuildVersion":"7","osVersion":"12",)"
                             R"("platformArchitecture":"x86_64"}})";
    return Blob(text.begin(), text.end());
}

const std::string endpoint = "https://crash.example.org/v1/crash";

struct CrashControllerFake : ::testing::Test {
    DeterministicScheduler scheduler;
    std::shared_ptr<DeterministicQueue> uploads = scheduler.makeQueue("uploads");
    std::shared_ptr<MemorySettingsStorage> storage = std::make_shared<MemorySettingsStorage>();
    std::shared_ptr<FakeCrashSender> sender = std::make_shared<FakeCrashSender>();
    std::shared_ptr<FakeDiagnosticPayloadService> service =
        std::make_shared<FakeDiagnosticPayloadService>();
    Seconds clock = 700000000.0;
    std::string senderEndpoint;
    std::vector<std::int64_t> submitted;
    std::vector<bool> published;

    std::shared_ptr<CrashController> make(const std::optional<std::string>& configured = endpoint) {
        CrashController::Environment environment;
        environment.makeSender = [this](const std::string& url) {
            senderEndpoint = url;
            return sender;
        };
        environment.diagnostics = service;
        environment.now = [this] { return clock; };
        environment.uploadQueue = uploads;
        environment.onSubmitted = [this](std::int64_t n) { submitted.push_back(n); };
        auto controller = CrashController::create(configured, storage, environment);
        controller->setOnChange([this](bool on) { published.push_back(on); });
        return controller;
    }
};

TEST_F(CrashControllerFake, WithoutAnHttpsEndpointTheSwitchStaysOffAndNothingIsWritten) {
    for (const std::optional<std::string>& configured :
         {std::optional<std::string>(), std::optional<std::string>("http://x.org/v1/crash"),
          std::optional<std::string>("not a url")}) {
        auto controller = make(configured);
        EXPECT_FALSE(controller->isAvailable());
        controller->setIsOn(true);
        controller->start();
        EXPECT_FALSE(controller->isOn());
    }
    EXPECT_EQ(storage->saves, 0);
    EXPECT_EQ(service->adds, 0);
    EXPECT_TRUE(published.empty());
    EXPECT_TRUE(senderEndpoint.empty());
}

TEST_F(CrashControllerFake, TheSwitchWritesConsentPublishesAndFollowsWithTheSubscription) {
    auto controller = make();
    EXPECT_TRUE(controller->isAvailable());
    EXPECT_EQ(senderEndpoint, endpoint);
    EXPECT_FALSE(controller->isOn());
    controller->setIsOn(true);
    EXPECT_TRUE(controller->isOn());
    EXPECT_EQ(storage->saves, 1);
    EXPECT_EQ(service->subscriberCount(), 1u);
    controller->setIsOn(false);
    EXPECT_FALSE(controller->isOn());
    EXPECT_EQ(service->subscriberCount(), 0u);
    EXPECT_EQ(published, (std::vector<bool>{true, false}));
}

TEST_F(CrashControllerFake, StartsFromTheStoredConsentAndSubscribesOnlyWhenItIsOn) {
    make()->start();
    EXPECT_EQ(service->adds, 0);
    storage->set(CrashConsent::encode({1, 5.0}));
    auto controller = make();
    EXPECT_TRUE(controller->isOn());
    controller->start();
    EXPECT_EQ(service->subscriberCount(), 1u);
}

TEST_F(CrashControllerFake, AFailedConsentWriteIsNotShownAsSuccess) {
    auto controller = make();
    storage->failWrites = true;
    controller->setIsOn(true);
    EXPECT_FALSE(controller->isOn());
    EXPECT_TRUE(published.empty());
    EXPECT_EQ(service->subscriberCount(), 0u);
}

TEST_F(CrashControllerFake, SendsOnlyCrashesFromConsentOnOnTheUploadQueue) {
    auto controller = make();
    controller->setIsOn(true);
    service->deliver({{clock - 1, {diagnosticBlob("1.0.1")}},
                      {clock, {diagnosticBlob("1.0.2"), diagnosticBlob("1.0.3")}},
                      {clock + 50, {}}});
    EXPECT_TRUE(sender->bodies().empty()); // nothing leaves the delivery thread itself
    scheduler.runPending();
    const auto bodies = sender->bodies();
    ASSERT_EQ(bodies.size(), 2u);
    EXPECT_NE(bodies[0].find(R"("version":"1.0.2")"), std::string::npos);
    EXPECT_NE(bodies[1].find(R"("version":"1.0.3")"), std::string::npos);
    EXPECT_EQ(submitted, std::vector<std::int64_t>{2});
}

TEST_F(CrashControllerFake, WithdrawnConsentStopsDeliveryAndPendingSubmissions) {
    auto controller = make();
    controller->setIsOn(true);
    service->deliver({{clock, {diagnosticBlob("1.0.0")}}}); // queued, not yet run
    controller->setIsOn(false);
    scheduler.runPending();
    EXPECT_TRUE(sender->bodies().empty());
    EXPECT_EQ(submitted, std::vector<std::int64_t>{0});
    // Delivered directly after withdrawal (as a late platform callback would): ignored.
    controller->didReceive({{clock, {diagnosticBlob("1.0.0")}}});
    EXPECT_EQ(scheduler.runPending(), 0u);
}

TEST_F(CrashControllerFake, SubmitCountsOnlyReportsTheEndpointAccepted) {
    auto controller = make();
    controller->setIsOn(true);
    // The second diagnostic makes no report; the third is answered 500.
    sender->script({201, 500});
    controller->didReceive(
        {{clock, {diagnosticBlob("1.0.0"), diagnosticBlob("1.0-beta"), diagnosticBlob("3")}}});
    scheduler.runPending();
    EXPECT_EQ(sender->bodies().size(), 2u);
    EXPECT_EQ(submitted, std::vector<std::int64_t>{1});
    // A transport failure is dropped too; later reports still go out.
    sender->script({std::nullopt});
    controller->didReceive({{clock, {diagnosticBlob("4"), diagnosticBlob("5")}}});
    scheduler.runPending();
    EXPECT_EQ(submitted, (std::vector<std::int64_t>{1, 1}));
}

TEST_F(CrashControllerFake, DestructionCancelsTheSenderAndUnsubscribes) {
    auto controller = make();
    controller->setIsOn(true);
    controller.reset();
    EXPECT_TRUE(sender->cancelled());
    EXPECT_EQ(service->subscriberCount(), 0u);
    EXPECT_EQ(service->deliver({{clock, {diagnosticBlob("1.0.0")}}}), 0);
}

} // namespace
} // namespace brindell
