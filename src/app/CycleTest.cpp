#include "app/CycleTest.h"

#include "app/Diagnostics.h"
#include "audio/pipewire/PipeWireHardware.h"
#include "queue/ThreadQueue.h"
#include "tapengine/TapSessionManager.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace brindell {

namespace {

using namespace std::chrono_literals;
using WallClock = std::chrono::steady_clock;

constexpr const char* logName = "cycletest.log";
constexpr auto findTimeout = 30s;
constexpr auto activeTimeout = 10s;
constexpr auto pollStep = 20ms;

void log(const std::string& line) {
    std::fprintf(stdout, "%s\n", line.c_str());
    writeLog(logName, line + "\n");
}

// Taps and per-app sinks of ours still in the graph, as the sweep would find them.
std::int64_t objectsLeft(AudioHardware& hardware, const std::string& namePrefix,
                         const std::string& uidPrefix) {
    std::int64_t left = 0;
    try {
        for (const auto& tap : hardware.listTaps()) {
            left += tap.name.rfind(namePrefix, 0) == 0 ? 1 : 0;
        }
        for (const auto& device : hardware.outputDevices()) {
            left += device.uid.rfind(uidPrefix, 0) == 0 ? 1 : 0;
        }
    } catch (const AudioHardwareError& e) {
        log("cannot list the graph: " + e.text());
        return -1;
    }
    return left;
}

} // namespace

int cycleTestMain(int cycles, Termination& termination) {
    writeLog(logName, "", false);
    auto hardware = std::make_shared<PipeWireHardware>();
    auto queue = std::make_shared<ThreadQueue>("com.quorvel.taskor.brindell.mixer");
    auto manager = std::make_shared<TapSessionManager>("Brindell", "com.quorvel.", hardware);
    manager->setOnEvent([](const TapSessionEvent& event) {
        if (event.kind == TapSessionEvent::Kind::warning) {
            writeLog(logName, "warning: " + event.message + "\n");
        }
    });
    bool stopped = false;
    // Sleeps that a stop signal cuts short.
    auto pause = [&] {
        if (!stopped && termination.waitFor(pollStep)) {
            stopped = true;
        }
        return !stopped;
    };

    queue->sync([&] {
        const auto removed = manager->sweep();
        if (removed.taps + removed.devices > 0) {
            log("swept " + std::to_string(removed.taps) + " taps and " +
                std::to_string(removed.devices) + " devices of an earlier run");
        }
        manager->startPolling(0.25, queue);
    });

    pid_type target = 0;
    const auto findDeadline = WallClock::now() + findTimeout;
    while (target == 0 && WallClock::now() < findDeadline && pause()) {
        for (pid_type pid : hardware->playingProcesses()) {
            if (pid != static_cast<pid_type>(getpid())) {
                target = pid;
                break;
            }
        }
    }
    int ok = 0;
    if (target == 0) {
        log(stopped ? "stopped before a process was found" : "no other process is playing audio");
    } else {
        log("target pid " + std::to_string(target));
    }
    for (int cycle = 1; target != 0 && cycle <= cycles && !stopped; ++cycle) {
        const auto began = WallClock::now();
        std::string failure;
        queue->sync([&] {
            try {
                manager->start(target, std::nullopt);
            } catch (const TapSessionManager::StartError& e) {
                failure = "start failed: " + e.text();
            }
        });
        bool active = false;
        while (failure.empty() && !active && WallClock::now() - began < activeTimeout && pause()) {
            queue->sync([&] {
                const auto state = manager->state(target);
                active = state && *state == TapSessionState::active();
                if (state && state->kind() == TapSessionState::Kind::failed) {
                    failure = "failed: " + state->message();
                }
            });
        }
        if (failure.empty() && !active) {
            failure = stopped ? "stopped" : "not active after 10 s";
        }
        queue->sync([&] {
            if (active) {
                manager->setVolume(target, 0.5f);
            }
            manager->stop(target);
        });
        const double seconds = std::chrono::duration<double>(WallClock::now() - began).count();
        char line[160];
        if (failure.empty()) {
            ++ok;
            std::snprintf(line, sizeof line, "cycle %d: ok, active after %.2f s", cycle, seconds);
        } else {
            std::snprintf(line, sizeof line, "cycle %d: %s", cycle, failure.c_str());
        }
        log(line);
    }
    queue->sync([&] {
        manager->stopPolling();
        manager->stopAll();
    });
    // Our objects leave the mirror once the server confirms their removal.
    std::int64_t left = objectsLeft(*hardware, manager->namePrefix(), manager->uidPrefix());
    const auto settleDeadline = WallClock::now() + 3s;
    while (left != 0 && WallClock::now() < settleDeadline && pause()) {
        left = objectsLeft(*hardware, manager->namePrefix(), manager->uidPrefix());
    }
    log("cycletest: " + std::to_string(cycles) + " cycles, " + std::to_string(ok) + " ok, " +
        std::to_string(left) + " objects left");
    return ok == cycles && left == 0 ? 0 : 1;
}

} // namespace brindell
