#include "queue/ThreadQueue.h"
#include "sources/AudioSourceMonitor.h"
#include "sources/WorkspaceAppInfoProvider.h"
#include "sources/WorkspaceProcessGrouper.h"
#include "sources/XdgWorkspace.h"
#include "sources/pipewire/PipeWireProcessSource.h"
#include "support/AudioSession.h"
#include "support/ChangeCounter.h"
#include "support/TestFiles.h"

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <unistd.h>

#ifndef BRINDELL_TONE_TOOL
#error "BRINDELL_TONE_TOOL must name the tone player"
#endif

namespace brindell {
namespace {

using namespace std::chrono_literals;
using testing::AudioSession;
using testing::ChildProcess;
using Clock = std::chrono::steady_clock;

using testing::installToneApplication;
using testing::startTone;
using testing::toneAppID;

pid_type pidOf(const ChildProcess& child) {
    return static_cast<pid_type>(child.pid());
}

std::string describe(const std::vector<AudioSource>& sources) {
    std::string text;
    for (const auto& s : sources) {
        text += "[" + s.name + " pid " + std::to_string(s.pid) + " " + s.bundleID.value_or("-") +
                " members";
        for (pid_type pid : s.memberPIDs) {
            text += " " + std::to_string(pid);
        }
        text += "] ";
    }
    return text.empty() ? "(none)" : text;
}

const AudioSource* sourceWithMember(const std::vector<AudioSource>& sources, pid_type pid) {
    for (const auto& s : sources) {
        if (std::find(s.memberPIDs.begin(), s.memberPIDs.end(), pid) != s.memberPIDs.end()) {
            return &s;
        }
    }
    return nullptr;
}

// The production source monitor over the session, on a queue of its own, with the workspace
// looking at a private data folder where the tone player is an installed application.
class ProcessSourceTest : public ::testing::Test {
protected:
    AudioSession session;
    std::shared_ptr<XdgWorkspace> workspace;
    std::shared_ptr<PipeWireProcessSource> source;
    std::shared_ptr<ThreadQueue> queue;
    std::shared_ptr<AudioSourceMonitor> monitor;

    std::mutex mutex;
    std::condition_variable published;
    std::vector<std::vector<AudioSource>> lists;

    std::string toneProgram;

    void SetUp() override {
        toneProgram = installToneApplication(session, session.folder() + "/data");
        XdgWorkspace::Options options = XdgWorkspace::Options::fromEnvironment();
        options.dataDirs = {session.folder() + "/data"};
        workspace = std::make_shared<XdgWorkspace>(options);
        source = makePipeWireProcessSource(workspace);
        ASSERT_TRUE(source->isConnected()) << session.logs();
    }

    void TearDown() override {
        if (monitor) {
            queue->sync([this] { monitor->stop(); });
        }
        monitor.reset();
        queue.reset();
    }

    void startMonitor(Seconds interval = 3.0) {
        queue = std::make_shared<ThreadQueue>("com.quorvel.taskor.brindell.mixer");
        monitor = AudioSourceMonitor::create(
            source, std::make_shared<WorkspaceAppInfoProvider>(workspace),
            static_cast<pid_type>(getpid()), WorkspaceProcessGrouper::overWorkspace(workspace));
        monitor->setOnChange([this](const std::vector<AudioSource>& sources) {
            std::lock_guard lock(mutex);
            lists.push_back(sources);
            published.notify_all();
        });
        queue->sync([this, interval] { monitor->start(queue, interval); });
    }

    // The first list published from now on, or already the last one, for which `holds` is true.
    std::optional<std::vector<AudioSource>>
    waitForList(const std::function<bool(const std::vector<AudioSource>&)>& holds,
                std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex);
        std::size_t next = lists.empty() ? 0 : lists.size() - 1;
        const auto deadline = Clock::now() + timeout;
        while (true) {
            for (; next < lists.size(); ++next) {
                if (holds(lists[next])) {
                    return lists[next];
                }
            }
            if (published.wait_until(lock, deadline) == std::cv_status::timeout &&
                next == lists.size()) {
                return std::nullopt;
            }
        }
    }

    std::string lastList() {
        std::lock_guard lock(mutex);
        return lists.empty() ? "(nothing published)" : describe(lists.back());
    }
};

// The monitor polls once a minute here: a player listed within seconds was heard of, not polled.
TEST_F(ProcessSourceTest, PlayersAreListedWithReadableNamesAsTheyStartAndLeaveWhenTheyStop) {
    startMonitor(60.0);
    for (const bool pulse : {false, true}) {
        auto player = pulse ? session.paplay() : session.pwPlay();
        const pid_type pid = pidOf(*player);
        const auto listed = waitForList(
            [&](const auto& sources) { return sourceWithMember(sources, pid) != nullptr; }, 10s);
        ASSERT_TRUE(listed) << (pulse ? "paplay" : "pw-play") << " never listed; last "
                            << lastList();
        const AudioSource& s = *sourceWithMember(*listed, pid);
        EXPECT_EQ(s.pid, pid);
        EXPECT_EQ(s.memberPIDs, std::vector<pid_type>{pid});
        // The name the player gives, not its symlink's target (pacat, pw-cat).
        EXPECT_EQ(s.name, pulse ? "paplay" : "pw-play");

        player->stop();
        const auto gone = waitForList(
            [&](const auto& sources) { return sourceWithMember(sources, pid) == nullptr; }, 4s);
        EXPECT_TRUE(gone) << "still listed after it stopped: " << lastList();
    }
}

TEST_F(ProcessSourceTest, TwoStreamsAreOneSourceAndAPlayingChildJoinsItsApplication) {
    startMonitor();
    auto player = startTone(session, toneProgram, {"440:0.3", "660:0.3"}, 2);
    const pid_type parent = pidOf(*player);
    auto listed = waitForList(
        [&](const auto& sources) { return sourceWithMember(sources, parent) != nullptr; }, 10s);
    ASSERT_TRUE(listed) << lastList();
    ASSERT_EQ(listed->size(), 1u) << describe(*listed);
    EXPECT_EQ((*listed)[0].pid, parent);
    EXPECT_EQ((*listed)[0].name, "Test Tone");
    EXPECT_EQ((*listed)[0].bundleID, toneAppID);
    EXPECT_EQ((*listed)[0].memberPIDs, std::vector<pid_type>{parent});

    ASSERT_TRUE(player->writeLine("fork 550:0.2"));
    const auto forked = player->waitForLine("forked ", 5s);
    ASSERT_TRUE(forked);
    const pid_type child = std::stoi(forked->substr(7));
    ASSERT_GT(child, 0) << *forked;
    listed = waitForList(
        [&](const auto& sources) { return sourceWithMember(sources, child) != nullptr; }, 10s);
    ASSERT_TRUE(listed) << "the child was never listed; last " << lastList();
    ASSERT_EQ(listed->size(), 1u) << "the child is a source of its own: " << describe(*listed);
    EXPECT_EQ((*listed)[0].pid, parent);
    EXPECT_EQ((*listed)[0].name, "Test Tone");
    EXPECT_EQ((*listed)[0].memberPIDs, (std::vector<pid_type>{parent, child}));

    // The child ends; the application stays, with one member less.
    ::kill(child, SIGTERM);
    listed = waitForList(
        [&](const auto& sources) {
            const auto* s = sourceWithMember(sources, parent);
            return s != nullptr && s->memberPIDs == std::vector<pid_type>{parent};
        },
        5s);
    EXPECT_TRUE(listed) << lastList();
}

// The source alone, with the workspace's answers scripted.
class PipeWireProcessSourceTest : public ::testing::Test {
protected:
    AudioSession session;
    std::mutex mutex;
    std::map<pid_type, std::string> reported;
    std::unique_ptr<testing::ChangeCounter> changes; // outlives the source that reports to it
    std::unique_ptr<PipeWireProcessSource> source;

    void SetUp() override {
        PipeWireProcessSource::Options options;
        options.applicationID = [](pid_type) {
            return std::optional<std::string>("org.example.Looked");
        };
        options.reportApplicationID = [this](pid_type pid, const std::string& id) {
            std::lock_guard lock(mutex);
            reported[pid] = id;
        };
        source = std::make_unique<PipeWireProcessSource>(options);
        ASSERT_TRUE(source->isConnected()) << session.logs();
        changes = std::make_unique<testing::ChangeCounter>(
            [this](auto changed) { source->setOnChange(changed); });
    }

    std::optional<AudioProcessInfo> processOf(pid_type pid) {
        const auto list = source->processes();
        EXPECT_LE(
            std::count_if(list.begin(), list.end(), [&](const auto& p) { return p.pid == pid; }), 1)
            << "one process object per pid";
        const auto it =
            std::find_if(list.begin(), list.end(), [&](const auto& p) { return p.pid == pid; });
        return it == list.end() ? std::nullopt : std::optional(*it);
    }

    // Waits for a change after `seen` changes, then for the pid's record to satisfy `holds`
    // (the change comes first: the list must not settle without one).
    ::testing::AssertionResult
    changesTo(int seen, pid_type pid, const std::function<bool(const AudioProcessInfo*)>& holds) {
        if (!changes->waitBeyond(seen, 5s)) {
            return ::testing::AssertionFailure() << "no onChange";
        }
        const bool ok = testing::waitUntil([&] {
            const auto found = processOf(pid);
            return holds(found ? &*found : nullptr);
        });
        return ok ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "never held";
    }
};

TEST_F(PipeWireProcessSourceTest, StreamsThatAppearChangeStateAndVanishAreReportedAtOnce) {
    int seen = changes->count();
    auto player = startTone(session, BRINDELL_TONE_TOOL,
                            {"--app-id", "org.example.FromStream", "440:0.3", "660:0.3"}, 2);
    const pid_type pid = pidOf(*player);
    ASSERT_TRUE(changesTo(seen, pid, [](const AudioProcessInfo* p) {
        return p != nullptr && p->isRunning && p->isRunningOutput && !p->isRunningInput;
    }));
    auto info = processOf(pid); // two streams, one process object
    ASSERT_TRUE(info);
    EXPECT_EQ(info->bundleID, "org.example.FromStream") << "the stream's id comes first";
    EXPECT_GT(info->objectID, 0u);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(reported[pid], "org.example.FromStream") << "and the workspace hears of it";
    }
    const AudioObjectID objectID = info->objectID;

    // Paused: the streams stay, their nodes leave the running state; one running is enough.
    seen = changes->count();
    ASSERT_TRUE(player->writeLine("pause 0"));
    ASSERT_TRUE(player->waitForLine("paused 0", 5s));
    ASSERT_TRUE(player->writeLine("pause 1"));
    ASSERT_TRUE(changesTo(seen, pid, [](const AudioProcessInfo* p) {
        return p != nullptr && !p->isRunning && !p->isRunningOutput;
    }));
    seen = changes->count();
    ASSERT_TRUE(player->writeLine("resume 1"));
    ASSERT_TRUE(changesTo(
        seen, pid, [](const AudioProcessInfo* p) { return p != nullptr && p->isRunningOutput; }));

    // A stream goes; the process keeps its object while it has another.
    seen = changes->count();
    ASSERT_TRUE(player->writeLine("close 0"));
    ASSERT_TRUE(player->waitForLine("closed 0", 5s));
    EXPECT_TRUE(changes->waitBeyond(seen, 5s)) << "a vanished stream is a change";
    info = processOf(pid);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->objectID, objectID);
    EXPECT_TRUE(info->isRunningOutput);

    // The process goes.
    seen = changes->count();
    player->stop();
    ASSERT_TRUE(changesTo(seen, pid, [](const AudioProcessInfo* p) { return p == nullptr; }));

    // A pulse client without an id of its own takes the workspace's, which hears nothing back.
    seen = changes->count();
    auto pulse = session.paplay();
    ASSERT_TRUE(changesTo(seen, pidOf(*pulse), [](const AudioProcessInfo* p) {
        return p != nullptr && p->isRunningOutput && p->bundleID == "org.example.Looked";
    }));
    std::lock_guard lock(mutex);
    EXPECT_EQ(reported.count(pidOf(*pulse)), 0u);
}

} // namespace
} // namespace brindell
