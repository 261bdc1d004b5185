// What the source monitor pays on the engine queue: a poll over many playing processes, a
// grouping lookup per process, the process-table scan behind it, and building the index of
// installed applications. The workspace figures use this machine's /proc and data dirs.
#include "sources/AudioSourceMonitor.h"
#include "sources/WorkspaceProcessGrouper.h"
#include "sources/XdgWorkspace.h"
#include "sources/fake/FakeAppInfoProvider.h"
#include "sources/fake/FakeAudioProcessSource.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

namespace {

using namespace brindell;

void BM_DesktopIndexBuild(benchmark::State& state) {
    const auto options = XdgWorkspace::Options::fromEnvironment();
    std::size_t entries = 0;
    for (auto _ : state) {
        DesktopEntryIndex index({options.dataDirs, options.locale, options.searchPath, 1.0},
                                SteadyClock::shared());
        entries = index.size();
        benchmark::DoNotOptimize(entries);
    }
    state.counters["entries"] = static_cast<double>(entries);
}
BENCHMARK(BM_DesktopIndexBuild)->Unit(benchmark::kMillisecond);

// Every call scans the process table; processes seen before are not identified again.
void BM_RunningAppsRescan(benchmark::State& state) {
    auto options = XdgWorkspace::Options::fromEnvironment();
    options.scanInterval = 0;
    XdgWorkspace workspace(options);
    std::size_t apps = workspace.runningApps().size();
    for (auto _ : state) {
        apps = workspace.runningApps().size();
        benchmark::DoNotOptimize(apps);
    }
    state.counters["processes"] = static_cast<double>(ProcFileSystem().pids().size());
    state.counters["apps"] = static_cast<double>(apps);
}
BENCHMARK(BM_RunningAppsRescan)->Unit(benchmark::kMicrosecond);

// One grouping lookup as the monitor makes it per playing process (table scanned once a second).
void BM_GroupLookup(benchmark::State& state) {
    auto workspace = std::make_shared<XdgWorkspace>(XdgWorkspace::Options::fromEnvironment());
    const auto grouper = WorkspaceProcessGrouper::overWorkspace(workspace);
    const pid_type self = ::getpid();
    for (auto _ : state) {
        benchmark::DoNotOptimize(grouper->group(self, "org.example.App.helper"));
    }
}
BENCHMARK(BM_GroupLookup)->Unit(benchmark::kMicrosecond);

// A poll that finds nothing changed, over state.range(0) playing processes in eight apps.
void BM_MonitorPollUnchanged(benchmark::State& state) {
    auto source = std::make_shared<FakeAudioProcessSource>();
    auto grouper = std::make_shared<FakeProcessGrouper>();
    for (pid_type pid = 1000; pid < 1000 + state.range(0); ++pid) {
        source->play(pid);
        grouper->setGroup(pid,
                          ProcessGroup{"org.example.App" + std::to_string(pid % 8), pid % 8 + 2});
    }
    auto monitor =
        AudioSourceMonitor::create(source, std::make_shared<FakeAppInfoProvider>(), 1, grouper);
    monitor->poll();
    for (auto _ : state) {
        monitor->poll();
    }
    state.counters["sources"] = static_cast<double>(monitor->active().size());
}
BENCHMARK(BM_MonitorPollUnchanged)->Arg(16)->Arg(128)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
