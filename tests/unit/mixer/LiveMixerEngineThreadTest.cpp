// The engine on real threads: its own thread-backed queue, listener queues for the fakes, a
// render thread driving the IO blocks as the audio server would, and the test's thread acting
// as the user interface. Meant to run under TSan.
#include "audio/fake/FakeAudioHardware.h"
#include "mixer/LiveMixerEngine.h"
#include "output/fake/FakeSystemAudioControl.h"
#include "queue/ThreadQueue.h"
#include "settings/fake/MemorySettingsStorage.h"
#include "sources/fake/FakeAppInfoProvider.h"
#include "sources/fake/FakeAudioProcessSource.h"
#include "sources/fake/FakeWorkspace.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace brindell {
namespace {

constexpr pid_type first = 600;
constexpr pid_type count = 3;

std::string bundleOf(pid_type pid) {
    return "org.example.App" + std::to_string(pid);
}

class LiveMixerEngineThreadTest : public ::testing::Test {
protected:
    std::shared_ptr<ThreadQueue> listeners = std::make_shared<ThreadQueue>("listeners");
    std::shared_ptr<FakeAudioHardware> hw = std::make_shared<FakeAudioHardware>(listeners);
    std::shared_ptr<FakeAudioProcessSource> processes =
        std::make_shared<FakeAudioProcessSource>(listeners);
    std::shared_ptr<FakeSystemAudioControl> control =
        std::make_shared<FakeSystemAudioControl>(listeners);
    std::shared_ptr<MemorySettingsStorage> storage = std::make_shared<MemorySettingsStorage>();
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    std::shared_ptr<LiveMixerEngine> engine;
    // Released after the engine, so the queue's thread is joined from this one even when the
    // engine's last reference goes away in a block that queue is still running.
    std::shared_ptr<SerialQueue> queue;

    std::atomic<bool> rendering{true};
    std::thread renderer;

    void SetUp() override {
        hw->addDevice({"speakers", "Speakers", DeviceTransport::builtIn, 2, true});
        hw->setDefaultOutput("speakers");
        control->addDevice({"speakers", 1.0f, false, "", 1});
        control->setSystemDefault("speakers");

        LiveMixerEngine::Parts parts;
        parts.hardware = hw;
        parts.processSource = processes;
        parts.appInfo = std::make_shared<FakeAppInfoProvider>();
        parts.systemControl = control;
        parts.settingsStore = std::make_shared<AppSettingsStore>(storage);
        parts.grouper = std::make_shared<FakeProcessGrouper>();
        parts.workspace = workspace;
        parts.ownPID = 1;
        engine = LiveMixerEngine::create(std::move(parts)); // its own thread-backed queue
        queue = engine->queue();

        renderer = std::thread([this] {
            while (rendering.load()) {
                hw->renderCycle(256);
                // About one IO period; the test waits on conditions, not on this pace.
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
    }

    void TearDown() override {
        if (engine) {
            engine->stop();
        }
        rendering = false;
        renderer.join();
        engine.reset();
        queue.reset();
    }

    static bool waitUntil(const std::function<bool()>& condition) {
        return testing::waitUntil(condition, std::chrono::seconds(20),
                                  std::chrono::milliseconds(10));
    }

    bool allRowsOK() {
        const MixerSnapshot snapshot = engine->snapshot();
        if (snapshot.rows.size() != static_cast<std::size_t>(count)) {
            return false;
        }
        return std::all_of(snapshot.rows.begin(), snapshot.rows.end(),
                           [](const MixerRow& r) { return r.status == MixerRowStatus::ok(); });
    }

    // The level the render thread last produced for the pid's session.
    float renderedLevel(pid_type pid) {
        std::optional<AudioObjectID> aggregate;
        engine->queue()->sync([&] {
            if (const auto s = engine->manager().session(pid)) {
                aggregate = s->aggregate;
            }
        });
        return aggregate ? hw->lastOutputPeak(*aggregate) : -1.0f;
    }
};

TEST_F(LiveMixerEngineThreadTest, DrivenFromAnotherThreadWhileTheHardwareRendersFromAThird) {
    engine->start();
    for (pid_type pid = first; pid < first + count; ++pid) {
        hw->addProcess(pid);
        hw->setProcessSignal(pid, 0.5f);
        processes->play(pid, bundleOf(pid));
    }
    ASSERT_TRUE(waitUntil([this] { return allRowsOK(); }));
    // A panel that opens and closes meanwhile reads the levels the render thread writes.
    auto levels = std::make_shared<std::pair<std::mutex, MixerLevels>>();
    engine->setOnLevels([levels](const MixerLevels& reading) {
        const std::lock_guard lock(levels->first);
        levels->second = reading;
    });

    // A burst of user actions, as a drag and clicks produce them, with snapshots in between.
    for (int i = 0; i < 200; ++i) {
        const pid_type pid = first + (i % count);
        if (i % 20 == 0) {
            engine->setLevelsWanted(i % 40 == 0);
        }
        if (i % 50 == 0) {
            engine->beginInteraction(pid);
        }
        engine->setVolume(pid, static_cast<float>(i % 100) / 100.0f);
        if (i % 7 == 0) {
            engine->setMuted(pid, i % 14 == 0);
        }
        if (i % 50 == 49) {
            engine->endInteraction();
        }
        if (i % 10 == 0) {
            EXPECT_EQ(engine->snapshot().rows.size(), static_cast<std::size_t>(count));
        }
    }
    for (pid_type pid = first; pid < first + count; ++pid) {
        engine->setMuted(pid, false);
        engine->setVolume(pid, 0.3f);
    }
    engine->setLevelsWanted(true);

    // The render thread applies the final gain...
    ASSERT_TRUE(waitUntil([this] {
        for (pid_type pid = first; pid < first + count; ++pid) {
            if (std::abs(renderedLevel(pid) - 0.15f) > 1e-5f) {
                return false;
            }
        }
        return true;
    }));
    // ...the panel shows it...
    EXPECT_TRUE(waitUntil([&levels] {
        const std::lock_guard lock(levels->first);
        return levels->second.size() == static_cast<std::size_t>(count) &&
               std::all_of(levels->second.begin(), levels->second.end(), [](const auto& entry) {
                   return std::abs(entry.second - 0.15f) < 1e-5f;
               });
    }));
    // ...and stop writes the final values.
    engine->stop();
    const auto file = AppSettingsStore::File::decode(storage->text().value_or(""));
    ASSERT_TRUE(file);
    for (pid_type pid = first; pid < first + count; ++pid) {
        ASSERT_TRUE(file->apps.contains(bundleOf(pid)));
        EXPECT_EQ(file->apps.at(bundleOf(pid)).volume, 0.3f);
        EXPECT_FALSE(file->apps.at(bundleOf(pid)).isMuted);
    }
    EXPECT_TRUE(hw->taps().empty());
    EXPECT_TRUE(hw->runningIO().empty());
}

} // namespace
} // namespace brindell
