#include "app/CallbackBench.h"

#include "app/Diagnostics.h"
#include "tapengine/RenderCallback.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace brindell {

namespace {

constexpr std::size_t frames = 512;
constexpr std::size_t channels = 2;

double micros(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

} // namespace

CallbackBenchResult runCallbackBench(int runs) {
    std::vector<float> input(frames * channels);
    std::vector<float> output(frames * channels);
    for (std::size_t i = 0; i < input.size(); ++i) {
        input[i] = 0.5f * std::sin(static_cast<float>(i) * 0.0575f);
    }
    AudioBuffer in{channels, static_cast<std::uint32_t>(input.size() * sizeof(float)),
                   input.data()};
    AudioBuffer out{channels, static_cast<std::uint32_t>(output.size() * sizeof(float)),
                    output.data()};
    AudioBufferList inList{1, &in};
    AudioBufferList outList{1, &out};

    TapIOState state(1.0f, false);
    TapIOState::Memory* memory = state.memory();
    memory->passthrough.store(1, std::memory_order_relaxed);

    CallbackBenchResult result;
    result.runs = runs;
    for (int i = 0; i < 2000; ++i) { // warm caches and branch predictors
        renderTap(inList, outList, memory);
    }
    double total = 0;
    double worst = 0;
    for (int i = 0; i < runs; ++i) {
        if (i % 100 == 0) {
            memory->gain.store((i / 100) % 2 == 0 ? 0.2f : 1.0f, std::memory_order_relaxed);
        }
        const auto start = std::chrono::steady_clock::now();
        renderTap(inList, outList, memory);
        const double t = micros(std::chrono::steady_clock::now() - start);
        total += t;
        worst = std::max(worst, t);
    }
    result.meanMicros = total / runs;
    result.worstMicros = worst;

    total = 0;
    worst = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        std::memcpy(output.data(), input.data(), input.size() * sizeof(float));
        // Keep the copy from being optimised away.
        asm volatile("" : : "r"(output.data()) : "memory");
        const double t = micros(std::chrono::steady_clock::now() - start);
        total += t;
        worst = std::max(worst, t);
    }
    result.memcpyMeanMicros = total / runs;
    result.memcpyWorstMicros = worst;
    return result;
}

std::string callbackBenchLine(const CallbackBenchResult& result) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "callback 512 frames stereo, %d runs: mean %.2f us, worst %.1f us (budget "
                  "10667 us)\n",
                  result.runs, result.meanMicros, result.worstMicros);
    return line;
}

std::string memcpyBenchLine(const CallbackBenchResult& result) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "memcpy 512 frames stereo, %d runs: mean %.2f us, worst %.1f us (callback/memcpy "
                  "%.1fx)\n",
                  result.runs, result.memcpyMeanMicros, result.memcpyWorstMicros,
                  result.memcpyMeanMicros > 0 ? result.meanMicros / result.memcpyMeanMicros : 0.0);
    return line;
}

int callbackBenchMain() {
    const CallbackBenchResult result = runCallbackBench();
    const std::string text = callbackBenchLine(result) + memcpyBenchLine(result);
    std::fputs(text.c_str(), stdout);
    if (!writeLog("callbackbench.log", text, false)) {
        std::fprintf(stderr, "brindell: cannot write %s/callbackbench.log\n",
                     temporaryDirectory().c_str());
        return 1;
    }
    return 0;
}

} // namespace brindell
