// What the engine costs per panel refresh and per source change: one snapshot over N listed
// apps (with the cached output list), and one visibility update with an unchanged source list
// (the steady 3-second monitor poll). The fakes' own bookkeeping is included, so the figures
// are an upper bound for the engine's share.
#include "audio/fake/FakeAudioHardware.h"
#include "mixer/LiveMixerEngine.h"
#include "output/fake/FakeSystemAudioControl.h"
#include "queue/DeterministicQueue.h"
#include "settings/fake/MemorySettingsStorage.h"
#include "sources/fake/FakeAppInfoProvider.h"
#include "sources/fake/FakeAudioProcessSource.h"
#include "sources/fake/FakeWorkspace.h"

#include <benchmark/benchmark.h>

namespace {

using namespace brindell;

void BM_Snapshot(benchmark::State& state) {
    DeterministicScheduler scheduler;
    auto queue = scheduler.makeQueue(LiveMixerEngine::queueLabel);
    auto hw = std::make_shared<FakeAudioHardware>(queue);
    auto processes = std::make_shared<FakeAudioProcessSource>(queue);
    auto control = std::make_shared<FakeSystemAudioControl>(queue);
    hw->addDevice({"speakers", "Speakers", DeviceTransport::builtIn, 2, true});
    hw->setDefaultOutput("speakers");
    FakeSystemAudioControl::Device speakers;
    speakers.uid = "speakers";
    control->addDevice(speakers);
    control->setSystemDefault("speakers");

    LiveMixerEngine::Parts parts;
    parts.hardware = hw;
    parts.processSource = processes;
    parts.appInfo = std::make_shared<FakeAppInfoProvider>();
    parts.systemControl = control;
    parts.settingsStore =
        std::make_shared<AppSettingsStore>(std::make_shared<MemorySettingsStorage>());
    parts.grouper = std::make_shared<FakeProcessGrouper>();
    parts.workspace = std::make_shared<FakeWorkspace>();
    parts.queue = queue;
    auto engine = LiveMixerEngine::create(std::move(parts));
    engine->start();

    const auto apps = static_cast<pid_type>(state.range(0));
    for (pid_type pid = 1000; pid < 1000 + apps; ++pid) {
        hw->addProcess(pid);
        hw->setProcessSignal(pid, 0.5f);
        processes->play(pid, "org.example.App" + std::to_string(pid));
    }
    scheduler.runPending();
    hw->renderCycle();
    scheduler.advance(0.5); // every session confirmed
    engine->snapshot();     // fills the output cache

    for (auto _ : state) {
        benchmark::DoNotOptimize(engine->snapshot());
    }
    state.counters["apps"] = static_cast<double>(apps);
    engine->stop();
}
BENCHMARK(BM_Snapshot)->Arg(1)->Arg(8)->Arg(32);

void BM_VisibilityUpdateUnchanged(benchmark::State& state) {
    double now = 0;
    SourceVisibilityModel model([&now] { return now; }, 5.0);
    std::vector<AudioSource> sources;
    for (pid_type pid = 1000; pid < 1000 + static_cast<pid_type>(state.range(0)); ++pid) {
        AudioSource source;
        source.objectID = static_cast<AudioObjectID>(pid);
        source.pid = pid;
        source.bundleID = "org.example.App" + std::to_string(pid);
        source.name = "App " + std::to_string(5000 - pid);
        source.memberPIDs = {pid};
        sources.push_back(std::move(source));
    }
    model.update(sources);
    for (auto _ : state) {
        now += 3.0;
        model.update(sources);
    }
    state.counters["sources"] = static_cast<double>(sources.size());
}
BENCHMARK(BM_VisibilityUpdateUnchanged)->Arg(8)->Arg(64);

} // namespace

BENCHMARK_MAIN();
