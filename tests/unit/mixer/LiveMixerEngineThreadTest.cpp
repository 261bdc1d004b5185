// The engine on real threads: its own thread-backed queue, listener queues for the fakes, a
// render thread driving the IO blocks as the audio server would, and a view model on a main
// queue of its own acting as the user interface. Meant to run under TSan.
#include "audio/fake/FakeAudioHardware.h"
#include "mixer/LiveMixerEngine.h"
#include "mixer/MixerViewModel.h"
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
    std::shared_ptr<ThreadQueue> mainQueue = std::make_shared<ThreadQueue>("main");
    std::shared_ptr<MixerViewModel> model;

    std::atomic<bool> rendering{true};
    std::thread renderer;

    void SetUp() override {
        hw->addDevice({"speakers", "Speakers", DeviceTransport::builtIn, 2, true});
        hw->setDefaultOutput("speakers");
        control->addDevice({"speakers", 1.0f, false, "", 1});
        control->setSystemDefault("speakers");

        // No queue given: the engine makes its own thread-backed one.
        engine = LiveMixerEngine::create({hw, processes, std::make_shared<FakeAppInfoProvider>(),
                                          control, std::make_shared<AppSettingsStore>(storage),
                                          std::make_shared<FakeProcessGrouper>(), workspace, 1,
                                          LiveMixerEngine::Now(), nullptr});
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
        mainQueue->sync([this] { model.reset(); });
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

TEST_F(LiveMixerEngineThreadTest, DrivenThroughTheViewModelWhileTheHardwareRendersFromAThird) {
    engine->start();
    for (pid_type pid = first; pid < first + count; ++pid) {
        hw->addProcess(pid);
        hw->setProcessSignal(pid, 0.5f);
        processes->play(pid, bundleOf(pid));
    }
    ASSERT_TRUE(waitUntil([this] { return allRowsOK(); }));
    ASSERT_TRUE(mainQueue->sync([this] { model = MixerViewModel::create(engine, mainQueue); }));

    // A burst of user actions, as a drag, keys and clicks produce them, with a panel that opens
    // and closes, while the output's volume changes outside.
    for (int i = 0; i < 200; ++i) {
        mainQueue->async([this, i] {
            const pid_type pid = first + (i % count);
            if (i % 20 == 0) {
                model->setLevelsWanted(i % 40 == 0);
            }
            if (i % 50 == 0) {
                model->setDragging(pid, true);
            }
            model->setVolume(pid, static_cast<float>(i % 100) / 100.0f);
            if (i % 7 == 0) {
                model->setMuted(pid, i % 14 == 0);
            }
            if (i % 50 == 49) {
                model->setDragging(*model->draggingPID(), false);
            }
            model->handleKey(KeyAction::down, false, false);
        });
        if (i % 10 == 0) {
            control->changeVolume("speakers", static_cast<float>(i) / 200.0f);
        }
    }
    mainQueue->async([this] {
        for (pid_type pid = first; pid < first + count; ++pid) {
            model->setMuted(pid, false);
            model->setVolume(pid, 0.3f);
        }
        model->setLevelsWanted(true);
    });
    control->changeVolume("speakers", 0.6f);

    // The render thread applies the final gain...
    ASSERT_TRUE(waitUntil([this] {
        for (pid_type pid = first; pid < first + count; ++pid) {
            if (std::abs(renderedLevel(pid) - 0.15f) > 1e-5f) {
                return false;
            }
        }
        return true;
    }));
    // ...and the panel settles on what the engine has and shows the levels.
    EXPECT_TRUE(waitUntil([this] {
        bool settled = false;
        mainQueue->sync([&] {
            const MixerLevels levels = model->levels.get();
            settled = model->rows.get() == engine->snapshot().rows && model->master.get() &&
                      model->master.get()->volume == 0.6f &&
                      levels.size() == static_cast<std::size_t>(count) &&
                      std::all_of(levels.begin(), levels.end(), [](const auto& entry) {
                          return std::abs(entry.second - 0.15f) < 1e-5f;
                      });
        });
        return settled;
    }));
    // Stop writes the final values.
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
