#include "sources/AudioSourceMonitor.h"

#include "queue/DeterministicQueue.h"
#include "sources/fake/FakeAppInfoProvider.h"
#include "sources/fake/FakeAudioProcessSource.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

constexpr pid_type ownPID = 4242;

// A monitor over fakes on a deterministic queue, recording what it reports.
class AudioSourceMonitorTest : public ::testing::Test {
protected:
    DeterministicScheduler scheduler;
    std::shared_ptr<DeterministicQueue> queue = scheduler.makeQueue("mixer");
    std::shared_ptr<DeterministicQueue> listeners = scheduler.makeQueue("process-listeners");
    std::shared_ptr<FakeAudioProcessSource> source =
        std::make_shared<FakeAudioProcessSource>(listeners);
    std::shared_ptr<FakeAppInfoProvider> appInfo = std::make_shared<FakeAppInfoProvider>();
    std::shared_ptr<FakeProcessGrouper> grouper = std::make_shared<FakeProcessGrouper>();
    std::shared_ptr<AudioSourceMonitor> monitor;
    std::vector<AudioSourceEvent> events;
    std::vector<std::vector<AudioSource>> published;

    void SetUp() override { make({}); }

    void make(std::set<std::string> ignored) {
        monitor = AudioSourceMonitor::create(source, appInfo, ownPID, grouper, std::move(ignored));
        monitor->setOnEvent([this](const AudioSourceEvent& e) { events.push_back(e); });
        monitor->setOnChange([this](const std::vector<AudioSource>& s) { published.push_back(s); });
    }

    static std::vector<pid_type> pids(const std::vector<AudioSource>& sources) {
        std::vector<pid_type> out;
        for (const auto& s : sources) {
            out.push_back(s.pid);
        }
        return out;
    }
};

TEST_F(AudioSourceMonitorTest, ListsOnlyOtherProcessesThatPlayOutput) {
    source->setProcesses({{1, 0, std::nullopt, true, false, true},
                          {2, -7, std::nullopt, true, false, true},
                          {3, ownPID, "org.brindell", true, false, true},
                          {4, 300, std::nullopt, true, true, false},  // input only
                          {5, 301, std::nullopt, true, false, false}, // running, no output
                          {6, 302, "org.example.Player", false, false, true}});
    monitor->poll();

    ASSERT_EQ(published.size(), 1u);
    ASSERT_EQ(published[0].size(), 1u);
    const AudioSource& only = published[0][0];
    EXPECT_EQ(only.pid, 302);
    EXPECT_EQ(only.objectID, 6u);
    EXPECT_EQ(only.bundleID, "org.example.Player");
    EXPECT_EQ(only.memberPIDs, std::vector<pid_type>{302});
    EXPECT_EQ(only.name, "App 302");
    EXPECT_EQ(events, std::vector{AudioSourceEvent::started(only)});
    EXPECT_TRUE(monitor->active().contains(AudioSourceMonitor::processKey(6)));
}

TEST_F(AudioSourceMonitorTest, HelpersFoldIntoTheirApplicationUnderItsMainPID) {
    grouper->setGroup(512, ProcessGroup{"Com.Example.Browser", 500});
    grouper->setGroup(505, ProcessGroup{"Com.Example.Browser", 500});
    appInfo->setInfo("Com.Example.Browser", {"Browser", IconReference::theme("browser")});
    const AudioObjectID first = source->play(512, "com.example.browser.helper");
    const AudioObjectID second = source->play(505, "com.example.browser.helper");
    monitor->poll();

    ASSERT_EQ(published.size(), 1u);
    ASSERT_EQ(published[0].size(), 1u);
    const AudioSource& browser = published[0][0];
    EXPECT_EQ(browser.pid, 500); // the main process itself does not play
    EXPECT_EQ(browser.bundleID, "Com.Example.Browser");
    EXPECT_EQ(browser.memberPIDs, (std::vector<pid_type>{505, 512}));
    EXPECT_EQ(browser.objectID, second); // of the lowest member, not the first listed
    EXPECT_NE(browser.objectID, first);
    EXPECT_EQ(browser.name, "Browser");
    EXPECT_EQ(browser.icon, IconReference::theme("browser"));
    EXPECT_TRUE(monitor->active().contains("app:com.example.browser"));
    // Named once, with the identity the mixer sees.
    ASSERT_EQ(appInfo->calls().size(), 1u);
    EXPECT_EQ(appInfo->calls()[0],
              std::make_pair(pid_type{500}, std::optional<std::string>("Com.Example.Browser")));
}

TEST_F(AudioSourceMonitorTest, AGroupWithoutMainPIDIsIdentifiedByItsLowestPlayingPID) {
    grouper->setGroup(40, ProcessGroup{"org.example.Tool", std::nullopt});
    grouper->setGroup(30, ProcessGroup{"org.example.Tool", std::nullopt});
    source->play(40);
    source->play(30);
    monitor->poll();
    ASSERT_EQ(published.back().size(), 1u);
    EXPECT_EQ(published.back()[0].pid, 30);
    EXPECT_EQ(published.back()[0].bundleID, "org.example.Tool");

    // A later process whose group knows the main pid wins over the earlier ones; the changed
    // identity is a stop of the old source and a start of a new one.
    grouper->setGroup(50, ProcessGroup{"org.example.tool", 7});
    source->play(50);
    events.clear();
    monitor->poll();
    ASSERT_EQ(published.back().size(), 1u);
    EXPECT_EQ(published.back()[0].pid, 7);
    EXPECT_EQ(published.back()[0].bundleID, "org.example.tool");
    EXPECT_EQ(published.back()[0].memberPIDs, (std::vector<pid_type>{30, 40, 50}));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, AudioSourceEvent::Kind::stopped);
    EXPECT_EQ(events[0].source.pid, 30);
    EXPECT_EQ(events[1].kind, AudioSourceEvent::Kind::started);
    EXPECT_EQ(events[1].source.pid, 7);
}

TEST_F(AudioSourceMonitorTest, MembersComingAndGoingRepublishWithoutEvents) {
    grouper->setGroup(11, ProcessGroup{"org.example.App", 10});
    grouper->setGroup(12, ProcessGroup{"org.example.App", 10});
    source->play(11);
    source->play(12);
    monitor->poll();
    const AudioSource before = published.back()[0];
    events.clear();
    appInfo->clearCalls();

    source->remove(12);
    monitor->poll();
    ASSERT_EQ(published.size(), 2u);
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(appInfo->calls().empty()); // kept, not rebuilt
    EXPECT_EQ(published.back()[0].memberPIDs, std::vector<pid_type>{11});
    EXPECT_EQ(published.back()[0].objectID, before.objectID);
    EXPECT_EQ(published.back()[0].name, before.name);

    // Nothing changed: nothing published.
    monitor->poll();
    EXPECT_EQ(published.size(), 2u);

    // The last member stops playing: the source stops.
    source->setRunning(11, false);
    monitor->poll();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, AudioSourceEvent::Kind::stopped);
    EXPECT_EQ(events[0].source.memberPIDs, std::vector<pid_type>{11});
    ASSERT_EQ(published.size(), 3u);
    EXPECT_TRUE(published.back().empty());
}

TEST_F(AudioSourceMonitorTest, IgnoredBundleIDsAreDroppedWhetherCarriedOrGrouped) {
    make({"org.brindell.Helper", "org.ignored.App"});
    source->play(20, "org.brindell.Helper");
    source->play(21, "org.example.child");
    grouper->setGroup(21, ProcessGroup{"org.ignored.App", 3});
    source->play(22, "org.brindell.helper"); // exact match only
    monitor->poll();
    ASSERT_EQ(published.back().size(), 1u);
    EXPECT_EQ(published.back()[0].pid, 22);
    EXPECT_EQ(grouper->callCount(), 2u); // the carried id is checked before grouping
}

TEST_F(AudioSourceMonitorTest, AFailedListingChangesNothing) {
    source->play(60);
    const AudioObjectID exiting = source->play(61);
    monitor->poll();
    const auto active = monitor->active();
    events.clear();
    published.clear();

    source->remove(61);
    source->fail(-17, 1);
    monitor->poll();
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(published.empty());
    EXPECT_EQ(monitor->active(), active);

    monitor->poll(); // recovered: now the exit is seen
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0],
              AudioSourceEvent::stopped(active.at(AudioSourceMonitor::processKey(exiting))));
}

TEST_F(AudioSourceMonitorTest, TimerAndEveryNotificationPollWhileStarted) {
    source->setNotifies(false);
    source->play(80);
    monitor->start(queue, 3.0);
    monitor->start(queue, 3.0); // starting twice keeps one timer
    scheduler.advance(0);
    EXPECT_EQ(source->listCount(), 1u); // first poll at once
    ASSERT_EQ(published.size(), 1u);

    scheduler.advance(2.9);
    EXPECT_EQ(source->listCount(), 1u);
    scheduler.advance(0.1);
    EXPECT_EQ(source->listCount(), 2u);

    // Two notifications, two polls: no coalescing.
    source->setNotifies(true);
    source->play(81);
    source->play(82);
    scheduler.runPending();
    EXPECT_EQ(source->listCount(), 4u);
    EXPECT_EQ(pids(published.back()), (std::vector<pid_type>{80, 81, 82}));

    monitor->stop();
    EXPECT_FALSE(source->hasOnChange());
    source->remove(80);
    scheduler.advance(30.0);
    EXPECT_EQ(source->listCount(), 4u);

    // A restart compares against what was active before the stop.
    events.clear();
    monitor->start(queue, 3.0);
    scheduler.advance(0);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, AudioSourceEvent::Kind::stopped);
    EXPECT_EQ(events[0].source.pid, 80);
}

TEST_F(AudioSourceMonitorTest, AReleasedMonitorStopsPollingByItself) {
    source->play(90);
    monitor->start(queue, 3.0);
    scheduler.advance(0);
    const std::size_t before = source->listCount();
    source->play(91); // a notification queued for the monitor
    monitor.reset();
    scheduler.runPending();
    scheduler.advance(10.0);
    EXPECT_EQ(source->listCount(), before);
    EXPECT_EQ(scheduler.timedCount(), 0u);
}

} // namespace
} // namespace brindell
