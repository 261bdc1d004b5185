// The render callback beside a plain copy of the same 512 stereo frames, so the ratio shows.
#include "tapengine/RenderCallback.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

using namespace brindell;

struct Buffers {
    std::vector<float> input = std::vector<float>(1024);
    std::vector<float> output = std::vector<float>(1024);
    AudioBuffer in{2, 4096, nullptr};
    AudioBuffer out{2, 4096, nullptr};
    AudioBufferList inList{1, &in};
    AudioBufferList outList{1, &out};
    Buffers() {
        for (std::size_t i = 0; i < input.size(); ++i) {
            input[i] = 0.5f * std::sin(static_cast<float>(i) * 0.0575f);
        }
        in.data = input.data();
        out.data = output.data();
    }
};

void BM_RenderSteady(benchmark::State& state) {
    Buffers b;
    TapIOState io(0.7f, false);
    io.memory()->passthrough.store(1);
    for (auto _ : state) {
        renderTap(b.inList, b.outList, io.memory());
        benchmark::DoNotOptimize(b.output.data());
    }
}
BENCHMARK(BM_RenderSteady);

void BM_RenderSwitching(benchmark::State& state) {
    Buffers b;
    TapIOState io(1.0f, false);
    io.memory()->passthrough.store(1);
    int i = 0;
    for (auto _ : state) {
        if (i % 100 == 0) {
            io.memory()->gain.store((i / 100) % 2 == 0 ? 0.2f : 1.0f);
        }
        ++i;
        renderTap(b.inList, b.outList, io.memory());
        benchmark::DoNotOptimize(b.output.data());
    }
}
BENCHMARK(BM_RenderSwitching);

void BM_RenderListenOnly(benchmark::State& state) {
    Buffers b;
    TapIOState io(1.0f, false);
    for (auto _ : state) {
        renderTap(b.inList, b.outList, io.memory());
        benchmark::DoNotOptimize(b.output.data());
    }
}
BENCHMARK(BM_RenderListenOnly);

void BM_Memcpy(benchmark::State& state) {
    Buffers b;
    for (auto _ : state) {
        std::memcpy(b.output.data(), b.input.data(), 4096);
        benchmark::DoNotOptimize(b.output.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Memcpy);

} // namespace

BENCHMARK_MAIN();
