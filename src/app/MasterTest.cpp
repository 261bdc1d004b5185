#include "app/MasterTest.h"

#include "app/Diagnostics.h"
#include "audio/pipewire/PipeWireHardware.h"
#include "output/OutputDeviceController.h"
#include "output/pipewire/PipeWireSystemControl.h"
#include "queue/ThreadQueue.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>

namespace brindell {

namespace {

using namespace std::chrono_literals;
using WallClock = std::chrono::steady_clock;

constexpr const char* logName = "mastertest.log";
constexpr auto firstStateTimeout = 5s;
// A change goes through the server, the session manager for a new default, and the controller's
// coalescing before it is published.
constexpr auto stepTimeout = 3s;
constexpr auto pollStep = 20ms;
constexpr float volumeTolerance = 0.01f;

void log(const std::string& line) {
    std::fprintf(stdout, "%s\n", line.c_str());
    writeLog(logName, line + "\n");
}

std::string describe(const std::optional<OutputState>& state) {
    if (!state) {
        return "none";
    }
    char volume[32] = "none";
    if (state->volume) {
        std::snprintf(volume, sizeof volume, "%.3f", static_cast<double>(*state->volume));
    }
    const char* mute = !state->isMuted ? "none" : (*state->isMuted ? "yes" : "no");
    return state->deviceUID + " \"" + state->deviceName + "\" volume " + volume + " muted " + mute;
}

bool near(std::optional<float> a, std::optional<float> b) {
    if (!a || !b) {
        return a.has_value() == b.has_value();
    }
    return std::fabs(*a - *b) <= volumeTolerance;
}

class Run {
public:
    explicit Run(Termination& termination) : termination_(termination) {}

    // Every published state; called on the engine queue.
    void publish(const std::optional<OutputState>& state) {
        log("published: " + describe(state));
        std::lock_guard lock(mutex_);
        latest_ = state;
    }

    std::optional<OutputState> latest() {
        std::lock_guard lock(mutex_);
        return latest_;
    }

    // Waits until the latest published state satisfies the test; false on time-out or stop.
    bool waitFor(const std::function<bool(const OutputState&)>& test,
                 std::chrono::milliseconds timeout) {
        const auto deadline = WallClock::now() + timeout;
        while (true) {
            if (const auto state = latest(); state && test(*state)) {
                return true;
            }
            if (stopped_ || WallClock::now() >= deadline) {
                return false;
            }
            if (termination_.waitFor(pollStep)) {
                stopped_ = true;
            }
        }
    }

    // One step: the action (its error becomes the failure), then the wait for its effect.
    void step(const std::string& name, const std::function<void()>& action,
              const std::function<bool(const OutputState&)>& effect) {
        if (stopped_) {
            return;
        }
        ++steps_;
        std::string failure;
        try {
            action();
        } catch (const AudioHardwareError& e) {
            failure = e.text();
        } catch (const ControlError& e) {
            failure = e.text();
        }
        if (failure.empty() && !waitFor(effect, stepTimeout)) {
            failure = stopped_ ? "stopped" : "not seen within 3 s";
        }
        if (failure.empty()) {
            ++ok_;
            log(name + ": ok");
        } else {
            log(name + ": failed (" + failure + ")");
        }
    }

    void skip(const std::string& name, const std::string& why) { log(name + ": skipped, " + why); }

    bool stopped() const { return stopped_; }
    int steps() const { return steps_; }
    int ok() const { return ok_; }

private:
    Termination& termination_;
    std::mutex mutex_;
    std::optional<OutputState> latest_;
    bool stopped_ = false;
    int steps_ = 0;
    int ok_ = 0;
};

} // namespace

int masterTestMain(Termination& termination) {
    writeLog(logName, "", false);
    auto hardware = std::make_shared<PipeWireHardware>();
    if (!hardware->isConnected()) {
        log("no audio server to connect to");
        return 1;
    }
    auto control = PipeWireSystemControl::create(hardware);
    auto queue = std::make_shared<ThreadQueue>("com.quorvel.taskor.brindell.mixer");
    auto controller = OutputDeviceController::create(control, hardware);
    Run run(termination);
    queue->sync([&] {
        controller->setOnChange(
            [&run](const std::optional<OutputState>& state) { run.publish(state); });
        controller->start(queue);
    });

    int code = 1;
    if (!run.waitFor([](const OutputState&) { return true; }, firstStateTimeout)) {
        log(run.stopped() ? "stopped before the first state" : "no default output");
    } else {
        const OutputState start = *run.latest();
        log("master: " + describe(start));
        std::vector<AudioDeviceInfo> outputs;
        queue->sync([&] { outputs = controller->outputs(); });
        std::string names;
        for (const auto& device : outputs) {
            names += (names.empty() ? "" : ", ") + device.uid;
        }
        log("outputs: " + names);

        auto onQueue = [&queue](std::function<void()> work) {
            // Errors cross back to this thread to be logged.
            std::exception_ptr error;
            queue->sync([&] {
                try {
                    work();
                } catch (...) {
                    error = std::current_exception();
                }
            });
            if (error) {
                std::rethrow_exception(error);
            }
        };

        if (start.volume) {
            run.step(
                "volume 0.3", [&] { onQueue([&] { controller->setVolume(0.3f); }); },
                [](const OutputState& s) { return near(s.volume, 0.3f); });
        } else {
            run.skip("volume 0.3", "the output has no software volume");
        }
        if (start.isMuted) {
            run.step(
                "mute", [&] { onQueue([&] { controller->setMuted(true); }); },
                [](const OutputState& s) { return s.isMuted == std::optional<bool>(true); });
            run.step(
                "unmute", [&] { onQueue([&] { controller->setMuted(false); }); },
                [](const OutputState& s) { return s.isMuted == std::optional<bool>(false); });
        } else {
            run.skip("mute", "the output has no mute");
        }
        for (const auto& device : outputs) {
            if (device.uid == start.deviceUID) {
                continue;
            }
            run.step(
                "default " + device.uid,
                [&] { onQueue([&] { controller->setDefaultOutput(device.uid); }); },
                [&](const OutputState& s) { return s.deviceUID == device.uid; });
        }
        if (outputs.size() > 1) {
            run.step(
                "default " + start.deviceUID + " again",
                [&] { onQueue([&] { controller->setDefaultOutput(start.deviceUID); }); },
                [&](const OutputState& s) { return s.deviceUID == start.deviceUID; });
        } else {
            run.skip("switching outputs", "there is no other output");
        }
        run.step(
            "restore",
            [&] {
                onQueue([&] {
                    if (start.volume) {
                        controller->setVolume(*start.volume);
                    }
                    if (start.isMuted) {
                        controller->setMuted(*start.isMuted);
                    }
                });
            },
            [&](const OutputState& s) {
                return s.deviceUID == start.deviceUID && near(s.volume, start.volume) &&
                       s.isMuted == start.isMuted;
            });
        log("mastertest: " + std::to_string(run.steps()) + " steps, " + std::to_string(run.ok()) +
            " ok");
        code = !run.stopped() && run.ok() == run.steps() ? 0 : 1;
    }
    queue->sync([&] {
        controller->stop();
        controller->setOnChange({});
    });
    return code;
}

} // namespace brindell
