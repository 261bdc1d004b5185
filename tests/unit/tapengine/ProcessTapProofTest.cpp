#include "tapengine/ProcessTapProof.h"

#include "audio/fake/FakeAudioHardware.h"
#include "queue/DeterministicQueue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace brindell {
namespace {

using Op = FakeAudioHardware::Op;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

// Every step named as the platform's call, in the fields' order.
ProofCallNames names() {
    return {"translate",  "createTap",       "tapUID",           "muteByMove",   "defaultOutput",
            "deviceUID",  "createAggregate", "tapFormat",        "createIOProc", "startDevice",
            "stopDevice", "destroyIOProc",   "destroyAggregate", "destroyTap"};
}

class ProcessTapProofTest : public ::testing::Test {
protected:
    DeterministicScheduler scheduler;
    std::shared_ptr<DeterministicQueue> queue = scheduler.makeQueue("proof");
    std::shared_ptr<FakeAudioHardware> hw = std::make_shared<FakeAudioHardware>();
    int hardwareRequests = 0;
    ProcessTapProof proof{[this] {
                              ++hardwareRequests;
                              return hw;
                          },
                          names(), queue};
    std::vector<std::string> lines;

    void SetUp() override {
        hw->addDevice({"speakers", "Speakers", DeviceTransport::builtIn, 2, true});
        hw->setDefaultOutput("speakers");
        hw->addProcess(42);
        hw->setProcessSignal(42, 0.5f);
        proof.setOnStatus([this](const std::string& line) { lines.push_back(line); });
    }

    std::vector<std::string> take() {
        scheduler.runPending();
        return std::exchange(lines, {});
    }
};

TEST_F(ProcessTapProofTest, ARunBuildsAMutedChainPassesThroughOnceAudioArrivesAndStopsInReverse) {
    proof.stop(); // without a run the hardware is never asked for
    EXPECT_THAT(take(), ElementsAre("Tear Down nothing"));
    EXPECT_EQ(hardwareRequests, 0);
    EXPECT_EQ(proof.inputBufferCount(), -1) << "no IO procedure yet";

    proof.run(42);
    const auto run = take();
    // A line per step, none of them failed.
    ASSERT_EQ(run.size(), 10u) << ::testing::PrintToString(run);
    for (const auto& line : run) {
        EXPECT_THAT(line, Not(HasSubstr("status -"))) << line;
    }
    ASSERT_EQ(hw->taps().size(), 1u);
    EXPECT_TRUE(hw->taps()[0].muted);
    EXPECT_EQ(hw->taps()[0].name, "Brindell Proof");
    ASSERT_EQ(hw->aggregates().size(), 1u);
    EXPECT_EQ(hw->aggregates()[0].request.uid, ProcessTapProof::preferredAggregateUID);
    EXPECT_EQ(hw->aggregates()[0].request.outputDeviceUID, "speakers");
    EXPECT_EQ(hw->runningIO().size(), 1u);
    // A second run finds the tap it made.
    proof.run(42);
    EXPECT_EQ(take().back(), "tap already exists");
    EXPECT_EQ(hw->taps().size(), 1u);

    proof.watch(1.0, 90.0, [] { FAIL() << "it must not give up"; });
    take();
    EXPECT_EQ(proof.inputBufferCount(), 0);
    scheduler.advance(1.0);
    EXPECT_THAT(take(), ElementsAre("level peak 0.0000 buffers 0"));
    EXPECT_FALSE(proof.passingThrough());
    EXPECT_EQ(hw->ownRouteLevel(42), 0.0f) << "the muted tap silences the app";

    hw->renderCycle(512);
    hw->renderCycle(512);
    scheduler.advance(1.0);
    EXPECT_THAT(take(), ElementsAre("level peak 0.5000 buffers 2", "PHASE passthrough"));
    hw->renderCycle(512);
    const auto aggregate = hw->aggregates()[0].objectID;
    EXPECT_FLOAT_EQ(hw->lastOutputPeak(aggregate), 0.5f) << "passed through at unity gain";

    proof.stop();
    EXPECT_THAT(take(), ElementsAre("stopDevice status 0", "destroyIOProc status 0",
                                    "destroyAggregate status 0", "destroyTap status 0"));
    EXPECT_TRUE(hw->taps().empty());
    EXPECT_TRUE(hw->aggregates().empty());
    EXPECT_TRUE(hw->runningIO().empty());
    scheduler.advance(5.0);
    EXPECT_TRUE(take().empty()) << "the watch ends with the proof";

    proof.stop();
    EXPECT_THAT(take(), ElementsAre("Tear Down nothing"));
}

TEST_F(ProcessTapProofTest, ItGivesUpOnceAfterNinetySecondsWithoutIOBuffers) {
    hw->fail(Op::startDevice, -19);
    int gaveUp = 0;
    proof.run(42);
    proof.watch(1.0, 90.0, [&] { ++gaveUp; });
    EXPECT_EQ(take().back(), "startDevice status -19");
    scheduler.advance(89.0);
    EXPECT_EQ(gaveUp, 0);
    scheduler.advance(1.0);
    EXPECT_EQ(gaveUp, 1);
    EXPECT_THAT(take(), Contains("PHASE gaveup no IOProc buffers after 90 s"));
    scheduler.advance(10.0);
    EXPECT_EQ(gaveUp, 1);
    EXPECT_TRUE(take().empty());

    // Without an IO procedure there is nothing to stop, but the device and the tap go.
    proof.stop();
    EXPECT_THAT(take(), ElementsAre("Stop Playback nothing", "destroyAggregate status 0",
                                    "destroyTap status 0"));
}

TEST_F(ProcessTapProofTest, FailuresAreReportedWithTheirStatusAndLeaveNothingBehind) {
    proof.run(7); // no such process
    EXPECT_THAT(take(), ElementsAre("translate pid 7 status noSuchObject"));
    EXPECT_TRUE(hw->taps().empty());

    hw->fail(Op::createAggregate, -12, 1);
    proof.run(42);
    EXPECT_EQ(take().back(), "createAggregate status -12");
    proof.stop();
    EXPECT_THAT(take(), ElementsAre("Stop Playback nothing", "destroyTap status 0"));
    EXPECT_TRUE(hw->taps().empty());

    // A failing stop is reported, and the rest of the teardown still happens.
    proof.run(42);
    take();
    hw->fail(Op::stopDevice, -5, 1);
    hw->fail(Op::destroyTap, -2, 1);
    proof.stop();
    EXPECT_THAT(take(), ElementsAre("stopDevice status -5", "destroyIOProc status unknown",
                                    "destroyAggregate status 0", "destroyTap status -2"));
    EXPECT_TRUE(hw->aggregates().empty());
}

TEST_F(ProcessTapProofTest, APreferredUIDThatIsTakenGivesWayToAFreshOne) {
    hw->injectAggregate(ProcessTapProof::preferredAggregateUID, "someone else");
    proof.run(42);
    const auto run = take();
    const auto collision = std::find_if(run.begin(), run.end(), [](const std::string& line) {
        return line.rfind("aggregate UID collision device ", 0) == 0;
    });
    ASSERT_NE(collision, run.end()) << ::testing::PrintToString(run);
    const std::string fresh = collision->substr(collision->rfind(' ') + 1);
    EXPECT_NE(fresh, ProcessTapProof::preferredAggregateUID);
    EXPECT_EQ(hw->aggregates().back().request.uid, fresh);
}

} // namespace
} // namespace brindell
