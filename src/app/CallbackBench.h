#pragma once

#include <string>

namespace brindell {

struct CallbackBenchResult {
    int runs = 0;
    double meanMicros = 0;
    double worstMicros = 0;
    double memcpyMeanMicros = 0; // the same buffers copied plainly, for scale
    double memcpyWorstMicros = 0;
};

// Runs the render callback `runs` times on 512-frame stereo buffers with passthrough on and the
// target gain switched between 0.2 and 1.0 every 100 calls, timing each call; then times a plain
// copy of the same buffers the same way.
CallbackBenchResult runCallbackBench(int runs = 200000);

// "callback 512 frames stereo, N runs: mean … us, worst … us (budget 10667 us)\n"
std::string callbackBenchLine(const CallbackBenchResult& result);
// The plain copy's figures and the ratio of the means.
std::string memcpyBenchLine(const CallbackBenchResult& result);

// The --callbackbench mode: runs the bench, writes both lines to callbackbench.log in the
// temporary directory and to standard output. Returns the exit code.
int callbackBenchMain();

} // namespace brindell
