#include "app/RouteTest.h"

#include "app/Diagnostics.h"
#include "app/LiveAudio.h"
#include "app/Termination.h"
#include "sources/WorkspaceProcessGrouper.h"
#include "sources/XdgWorkspace.h"

#include <chrono>
#include <cstdio>

namespace brindell {

namespace {

using namespace std::chrono_literals;
using WallClock = std::chrono::steady_clock;

constexpr const char* logName = "routetest.log";
constexpr auto findTimeout = 15s;
constexpr auto stepDuration = 2s;
constexpr auto pollStep = 50ms;

void log(const std::string& line) {
    std::fprintf(stdout, "%s\n", line.c_str());
    writeLog(logName, line + "\n");
}

std::optional<MixerRow> rowOf(const MixerSnapshot& snapshot, pid_type pid) {
    for (const auto& row : snapshot.rows) {
        if (row.pid == pid) {
            return row;
        }
    }
    return std::nullopt;
}

std::string describe(const MixerRow& row) {
    return "row " + std::to_string(row.pid) + " \"" + row.name + "\" output " +
           row.outputUID.value_or("default") + " status " + row.status.text() +
           (row.isActive ? "" : " (not playing)");
}

} // namespace

int routeTestMain(pid_type pid, Termination& termination) {
    writeLog(logName, "", false);
    auto xdg = std::make_shared<XdgWorkspace>(XdgWorkspace::Options::fromEnvironment());
    LiveAudio audio = makeLiveAudio(xdg, xdg);
    auto& engine = *audio.engine;
    engine.start();
    bool stopped = false;
    // Waits up to `duration` for condition, cut short by a stop signal; the last snapshot.
    auto waitFor = [&](WallClock::duration duration,
                       const std::function<bool(const MixerSnapshot&)>& condition) {
        const auto deadline = WallClock::now() + duration;
        MixerSnapshot snapshot = engine.snapshot();
        while (!stopped && !condition(snapshot) && WallClock::now() < deadline) {
            if (termination.waitFor(
                    std::chrono::duration_cast<std::chrono::milliseconds>(pollStep))) {
                stopped = true;
                log("stop signal: ending");
            }
            snapshot = engine.snapshot();
        }
        return snapshot;
    };

    // The row of the pid's application: the pid itself, or the application it is grouped into.
    pid_type rowPID = pid;
    const auto group = WorkspaceProcessGrouper::overWorkspace(xdg)->group(pid, std::nullopt);
    if (group && group->mainPID) {
        rowPID = *group->mainPID;
    }
    log("routetest " + std::to_string(pid) + ": waiting for the row of " + std::to_string(rowPID));
    MixerSnapshot snapshot =
        waitFor(findTimeout, [&](const MixerSnapshot& s) { return rowOf(s, rowPID).has_value(); });
    auto row = rowOf(snapshot, rowPID);
    if (!row) {
        log(stopped ? "stopped before the row was listed"
                    : "no row for " + std::to_string(rowPID) + " after 15 s: is it playing?");
        engine.stop();
        return 1;
    }
    log("found " + describe(*row));

    int failures = 0;
    std::vector<std::pair<std::optional<std::string>, std::string>> steps;
    for (const auto& output : snapshot.outputs) {
        steps.emplace_back(output.uid, output.name);
    }
    steps.emplace_back(std::nullopt, "the system default");
    for (const auto& [uid, name] : steps) {
        if (stopped) {
            break;
        }
        log("route to " + name + " (" + uid.value_or("default") + ")");
        engine.setOutput(rowPID, uid);
        // The step lasts its two seconds; the row must show the choice by its end.
        const auto started = WallClock::now();
        snapshot = waitFor(stepDuration, [&](const MixerSnapshot&) { return false; });
        row = rowOf(snapshot, rowPID);
        const double seconds = std::chrono::duration<double>(WallClock::now() - started).count();
        if (!row) {
            log("  the row is gone");
            ++failures;
            break;
        }
        const bool applied = row->outputUID == uid;
        failures += applied ? 0 : 1;
        log("  after " + std::to_string(seconds).substr(0, 4) + " s: " + describe(*row) +
            (applied ? "" : " (not applied)"));
    }
    engine.stop();
    log(failures == 0 && !stopped
            ? "routetest passed"
            : "routetest ended with " + std::to_string(failures) + " failed steps");
    return failures == 0 && !stopped ? 0 : 1;
}

} // namespace brindell
