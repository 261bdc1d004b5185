// brindell-tap-holder PID DEVICE GAIN: a process of its own that owns a PipeWireHardware and
// routes PID through a muted tap, a per-app sink on DEVICE and the render callback at GAIN with
// passthrough on, as a confirmed session does. It prints "active" once the chain runs, then
// holds it until SIGTERM or SIGINT (which tear it down) or SIGKILL (which tears nothing down:
// the audio tests check that the app comes back on its own).

#include "audio/pipewire/PipeWireHardware.h"
#include "tapengine/RenderCallback.h"
#include "tapengine/TapIOState.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: brindell-tap-holder PID DEVICE GAIN\n");
        return 2;
    }
    const auto pid = static_cast<brindell::pid_type>(std::atoi(argv[1]));
    const std::string device = argv[2];
    const float gain = std::strtof(argv[3], nullptr);

    // Block the stop signals before any thread starts, then wait for them here.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        brindell::PipeWireHardware hardware;
        const auto process = hardware.processObject(pid);
        const std::string name = "Brindell " + std::to_string(pid);
        const auto tap = hardware.createTap(process, name, true);
        const auto aggregate = hardware.createAggregate(
            {"com.quorvel.Brindell.agg.holder-" + std::to_string(pid), name, device, tap.uid});
        brindell::TapIOState state(gain, false);
        state.memory()->passthrough.store(1, std::memory_order_relaxed);
        const auto io = hardware.startIO(aggregate, brindell::makeTapIOBlock(state.memory()));
        std::printf("active\n");
        std::fflush(stdout);

        int signo = 0;
        sigwait(&stopSignals, &signo);
        hardware.stopIO(io);
        hardware.destroyAggregate(aggregate);
        hardware.destroyTap(tap.objectID);
        std::printf("stopped\n");
        return 0;
    } catch (const std::exception& e) {
        std::printf("failed %s\n", e.what());
        return 1;
    }
}
