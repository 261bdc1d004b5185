#include "app/AutoProof.h"

#include "app/Diagnostics.h"
#include "audio/pipewire/PipeWireHardware.h"
#include "queue/ThreadQueue.h"
#include "tapengine/ProcessTapProof.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace brindell {

namespace {

using namespace std::chrono_literals;

constexpr const char* logName = "autoproof.log";
constexpr Seconds giveUpAfter = 90.0;

// What each step is called on PipeWire.
ProofCallNames pipeWireCallNames() {
    ProofCallNames n;
    n.translatePID = "pw_registry application.process.id";
    n.createTap = "tap of the process's output streams";
    n.tapUID = "tap uid";
    n.muteBehaviour = "pw_metadata target.object";
    n.defaultOutput = "pw_metadata default.audio.sink";
    n.deviceUID = "node.name";
    n.createAggregate = "pw_core_create_object adapter support.null-audio-sink";
    n.tapFormat = "tap format";
    n.createIOProc = "pw_filter_new";
    n.startDevice = "pw_filter_connect RT_PROCESS and link-factory";
    n.stopDevice = "pw_filter_set_active false";
    n.destroyIOProc = "pw_filter_destroy";
    n.destroyAggregate = "pw_proxy_destroy per-app sink";
    n.destroyTap = "pw_metadata target.object restore";
    return n;
}

std::string stamped(const std::string& line) {
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%.2f ", std::fmod(now, 100000.0));
    return stamp + line + "\n";
}

} // namespace

AutoProof::AutoProof()
    : queue_(std::make_shared<ThreadQueue>("com.quorvel.taskor.brindell.proof")),
      proof_(std::make_unique<ProcessTapProof>([this] { return hardware_; }, pipeWireCallNames(),
                                               queue_)) {}

AutoProof::~AutoProof() = default;

void AutoProof::log(const std::string& line) {
    writeLog(logName, stamped(line));
}

int AutoProof::run(std::optional<pid_type> pid, Termination& termination) {
    logging_ = true;
    proof_->setOnStatus([this](const std::string& line) { log(line); });
    // Made here, before the proof's queue asks for it; the queue's hand-over orders the two.
    hardware_ = std::make_shared<PipeWireHardware>();
    log(hardware_->isConnected() ? "connected to PipeWire" : "PipeWire is not reachable yet");

    if (!pid) {
        log("looking for a process playing audio");
        const auto deadline = std::chrono::steady_clock::now() + 90s;
        while (!pid) {
            for (pid_type candidate : hardware_->playingProcesses()) {
                if (candidate != static_cast<pid_type>(getpid())) {
                    pid = candidate;
                    break;
                }
            }
            if (pid) {
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                log("PHASE gaveup no process playing audio after 90 s");
                return 1;
            }
            if (termination.waitFor(250ms)) {
                return 0;
            }
        }
    }
    log("target pid " + std::to_string(*pid));
    proof_->run(*pid);
    proof_->watch(1.0, giveUpAfter, [&termination] { termination.request(-1); });
    return termination.wait() < 0 ? 1 : 0;
}

void AutoProof::stop() {
    proof_->stop();
}

} // namespace brindell
