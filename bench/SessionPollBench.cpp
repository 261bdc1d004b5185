// One poll of the session manager over active sessions that need nothing: the quarter-second
// steady state. The figures include the fake hardware's own bookkeeping (a lock per call), so
// they are an upper bound for the manager's share.
#include "audio/fake/FakeAudioHardware.h"
#include "tapengine/TapSessionManager.h"

#include <benchmark/benchmark.h>

namespace {

using namespace brindell;

void BM_PollSteady(benchmark::State& state) {
    auto hw = std::make_shared<FakeAudioHardware>();
    hw->addDevice({"speakers", "Speakers", DeviceTransport::builtIn, 2, true});
    hw->setDefaultOutput("speakers");
    auto manager = std::make_shared<TapSessionManager>("Brindell", "com.quorvel.", hw);
    const auto sessions = static_cast<pid_type>(state.range(0));
    for (pid_type pid = 1000; pid < 1000 + sessions; ++pid) {
        hw->addProcess(pid);
        hw->setProcessSignal(pid, 0.5f);
        manager->start(pid, std::nullopt);
    }
    hw->renderCycle();
    manager->poll(); // confirms every session
    for (auto _ : state) {
        manager->poll();
    }
    state.counters["sessions"] = static_cast<double>(sessions);
    state.counters["per session"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(sessions),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PollSteady)->Arg(1)->Arg(8)->Arg(64);

} // namespace

BENCHMARK_MAIN();
