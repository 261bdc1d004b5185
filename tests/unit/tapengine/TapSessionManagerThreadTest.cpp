// The manager on real threads: its own serial queue, the hardware's listener queue, and IO blocks
// called from a render thread of their own, as the platform does. Meant to run under TSan.
#include "audio/fake/FakeAudioHardware.h"
#include "queue/ThreadQueue.h"
#include "support/TestSupport.h"
#include "tapengine/TapSessionManager.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace brindell {
namespace {

using Op = FakeAudioHardware::Op;
using Kind = TapSessionState::Kind;

constexpr pid_type first = 500;
constexpr pid_type count = 4;

class TapSessionManagerThreadTest : public ::testing::Test {
protected:
    std::shared_ptr<ThreadQueue> queue = std::make_shared<ThreadQueue>("mixer");
    std::shared_ptr<ThreadQueue> listeners = std::make_shared<ThreadQueue>("hal-listeners");
    std::shared_ptr<FakeAudioHardware> hw = std::make_shared<FakeAudioHardware>(listeners);
    std::shared_ptr<TapSessionManager> manager;
    std::atomic<bool> rendering{true};
    std::atomic<std::int64_t> cycles{0};
    std::thread renderer;

    void SetUp() override {
        hw->addDevice({"speakers", "Speakers", DeviceTransport::builtIn, 2, true});
        hw->addDevice({"headphones", "Headphones", DeviceTransport::usb, 2, true});
        hw->setDefaultOutput("speakers");
        for (pid_type pid = first; pid < first + count; ++pid) {
            hw->addProcess(pid);
            hw->setProcessSignal(pid, 0.5f);
        }
        manager = std::make_shared<TapSessionManager>("Brindell", "com.quorvel.", hw);
        renderer = std::thread([this] {
            while (rendering.load()) {
                hw->renderCycle(256);
                cycles.fetch_add(1);
                // One IO period, roughly; the test waits on states, not on this pace.
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
    }

    void TearDown() override {
        if (manager) {
            queue->sync([this] {
                manager->stopPolling();
                manager->stopAll();
            });
        }
        rendering = false;
        renderer.join();
        manager.reset();
    }

    // Runs on the manager's queue and waits for it.
    void onQueue(const std::function<void()>& work) { ASSERT_TRUE(queue->sync(work)); }

    // Waits, with a watchdog, until every listed pid is in the given state.
    bool waitFor(std::initializer_list<pid_type> pids, Kind kind) {
        return testing::waitUntil(
            [&] {
                bool reached = true;
                queue->sync([&] {
                    for (const pid_type pid : pids) {
                        const auto state = manager->state(pid);
                        reached = reached && state && state->kind() == kind;
                    }
                });
                return reached;
            },
            std::chrono::seconds(20), std::chrono::milliseconds(2));
    }
};

TEST_F(TapSessionManagerThreadTest, SessionsLiveThroughDeviceChangesStopsAndResetsWhileIORuns) {
    std::atomic<int> warnings{0};
    onQueue([&] {
        manager->setOnEvent([&](const TapSessionEvent& e) {
            EXPECT_TRUE(queue->isCurrent());
            if (e.kind == TapSessionEvent::Kind::warning) {
                warnings.fetch_add(1);
            }
        });
        manager->startPolling(0.005, queue);
        for (pid_type pid = first; pid < first + count; ++pid) {
            manager->start(pid, std::nullopt);
        }
    });
    ASSERT_TRUE(waitFor({first, first + 1, first + 2, first + 3}, Kind::active));

    onQueue([&] {
        manager->setVolume(first, 0.2f);
        manager->setMuted(first + 1, true);
        manager->setOutput(first + 2, "headphones");
        // A stop whose stopIO fails: the platform keeps calling that block on its thread.
        hw->fail(Op::stopDevice, -1, 1);
        manager->stop(first + 3);
    });
    EXPECT_EQ(hw->strayIOCount(), 1u);

    // Unplugged from another thread: the listener queue hops to the manager's queue.
    hw->removeDevice("speakers");
    ASSERT_TRUE(waitFor({first, first + 1}, Kind::waitingForDevice));
    hw->setDefaultOutput("headphones");
    ASSERT_TRUE(waitFor({first, first + 1, first + 2}, Kind::active));

    TapSessionManager::Removed removed;
    onQueue([&] { removed = manager->reset(); });
    EXPECT_EQ(removed, (TapSessionManager::Removed{0, 0}));
    ASSERT_TRUE(waitFor({first, first + 1, first + 2}, Kind::active));
    onQueue([&] {
        EXPECT_EQ(manager->volume(first), 0.2f);
        EXPECT_EQ(manager->muted(first + 1), true);
        EXPECT_GE(manager->confirmations(), 9);
        for (const auto& snapshot : manager->snapshots()) {
            EXPECT_EQ(snapshot.outputDeviceUID, "headphones");
        }
    });
    EXPECT_EQ(warnings.load(), 1); // the failed stopIO

    // The stray block keeps rendering after its session and the manager are gone.
    onQueue([&] {
        manager->stopPolling();
        manager->stopAll();
    });
    manager.reset();
    const std::int64_t before = cycles.load();
    while (cycles.load() < before + 10) {
        std::this_thread::yield();
    }
    EXPECT_EQ(hw->strayIOCount(), 1u);
    EXPECT_TRUE(hw->runningIO().empty());
    EXPECT_TRUE(hw->taps().empty());
}

} // namespace
} // namespace brindell
