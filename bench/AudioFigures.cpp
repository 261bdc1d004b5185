// audio_figures: measures, in a private audio session, what the tapped path costs and prints
// the figures (not a test: nothing here passes or fails on a number).
//   - added latency of the tapped path against the direct path, with an impulse, in samples and
//     graph quanta;
// With --quantum N the graph runs at N frames per cycle (clock.force-quantum) in both.
//   - CPU time of a process that owns the adapter while one app is tapped and playing for 10 s
//     (by default brindell-tap-holder; with --process PROGRAM ARGS..., any program given the
//     app's pid in place of the word PID, for example: --process build/default/brindell
//     --autoproof PID).
// With --panel: brindell itself (offscreen, in the session) with ten apps playing, its CPU share
// over 10 s with the panel closed and 10 s with it open (levels read 20 times a second).

#include "audio/pipewire/PipeWireHardware.h"
#include "support/AudioSession.h"
#include "support/LevelMeter.h"
#include "tapengine/RenderCallback.h"
#include "tapengine/TapIOState.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace brindell;
using namespace brindell::testing;
using namespace std::chrono_literals;

namespace {

// utime + stime of a process, in seconds.
double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(in, text);
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14 || i == 15) {
            ticks += std::stod(field);
        }
        if (i == 15) {
            break;
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void latency(AudioSession& session) {
    auto player = session.tonePlayer({"1000:0.4"}, AudioSession::speakers, true);
    LevelMeter meter(session, AudioSession::speakers);
    PipeWireHardware hw;
    const auto pid = static_cast<pid_type>(player->pid());
    const auto tap = hw.createTap(hw.processObject(pid), "Brindell figures", false);
    const auto aggregate = hw.createAggregate(
        {"com.quorvel.Brindell.agg.figures", "Brindell figures", AudioSession::speakers, tap.uid});
    TapIOState state(0.5f, false);
    state.memory()->passthrough.store(1);
    static std::atomic<std::uint32_t> quantum{0};
    IOBlock render = makeTapIOBlock(state.memory());
    const auto io =
        hw.startIO(aggregate, [render](const AudioTimeStamp& now, const AudioBufferList& in,
                                       const AudioTimeStamp& inTime, AudioBufferList& out,
                                       const AudioTimeStamp& outTime) {
            if (out.numberBuffers > 0) {
                quantum.store(out.buffers[0].dataByteSize / (4 * out.buffers[0].numberChannels));
            }
            render(now, in, inTime, out, outTime);
        });
    AudioSession::waitUntil([&] { return state.memory()->nonzeroBuffers.load() >= 2; }, 10s);

    // Direct clicks are 0.4 high, tapped copies 0.2; together on one sample they make 0.6.
    const auto samples = meter.record(96000, 10s);
    std::vector<long> offsets;
    long lastDirect = -1;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const float h = samples[i];
        if (h > 0.55f) {
            offsets.push_back(0);
        } else if (h > 0.3f) {
            lastDirect = static_cast<long>(i);
        } else if (h > 0.1f && lastDirect >= 0) {
            offsets.push_back(static_cast<long>(i) - lastDirect);
        }
    }
    hw.stopIO(io);
    hw.destroyAggregate(aggregate);
    hw.destroyTap(tap.objectID);
    if (offsets.empty()) {
        std::printf("latency: no clicks found\n");
        return;
    }
    const long offset = offsets.front();
    const std::uint32_t q = quantum.load();
    std::printf("added latency of the tapped path: %ld samples over %zu clicks = %.2f quanta "
                "(quantum %u frames at 48 kHz)\n",
                offset, offsets.size(), q != 0 ? static_cast<double>(offset) / q : -1.0, q);
}

void cpu(AudioSession& session, std::vector<std::string> process) {
    auto player = session.tonePlayer({"440:0.5"}, AudioSession::speakers);
    LevelMeter meter(session, AudioSession::speakers);
    const std::string pid = std::to_string(player->pid());
    if (process.empty()) {
        process = {BRINDELL_TAP_HOLDER, "PID", AudioSession::speakers, "0.5"};
    }
    for (auto& arg : process) {
        if (arg == "PID") {
            arg = pid;
        }
    }
    auto owner = session.run(process, true);
    // Wait until the app plays through the owner's chain (0.25 at gain 0.5, 0.5 at unity
    // gain from --autoproof), read from the meter rather than the owner's own words.
    const bool tapped = AudioSession::waitUntil(
        [&] {
            const auto windows = meter.waitFor([](const auto&) { return true; }, 1s, 1);
            return windows.has_value() && !session.linkedTargetsOf(player->pid()).empty() &&
                   session.linkedTargetsOf(player->pid()).front().rfind("com.quorvel", 0) == 0;
        },
        30s);
    if (!tapped) {
        std::printf("cpu: the app was never tapped\n");
        return;
    }
    const double start = cpuSeconds(owner->pid());
    const auto begin = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(10s); // the measuring window itself
    const double end = cpuSeconds(owner->pid());
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::printf("cpu time of %s while one app is tapped and playing: %.3f s over %.1f s "
                "(%.2f %% of one core)\n",
                process.front().substr(process.front().rfind('/') + 1).c_str(), end - start, wall,
                100.0 * (end - start) / wall);
    owner->stop();
}

// brindell ctl ARGS in the session; its output.
std::string ctl(AudioSession& session, std::vector<std::string> args) {
    args.insert(args.begin(), {BRINDELL_EXECUTABLE, "ctl"});
    auto process = session.run(args, true);
    std::string output;
    while (const auto line = process->readLine(15s)) {
        output += *line + "\n";
    }
    process->waitExit(15s);
    return output;
}

double cpuShare(pid_t pid, std::chrono::seconds window) {
    const double start = cpuSeconds(pid);
    const auto begin = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(window);
    const double end = cpuSeconds(pid);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    return 100.0 * (end - start) / wall;
}

void panel(AudioSession& session) {
    constexpr int apps = 10;
    std::vector<std::unique_ptr<ChildProcess>> players;
    for (int i = 0; i < apps; ++i) {
        players.push_back(
            session.tonePlayer({std::to_string(300 + 40 * i) + ":0.1"}, AudioSession::speakers));
    }
    const std::string config = session.environment().at("XDG_CONFIG_HOME") + "/brindell";
    std::filesystem::create_directories(config);
    std::ofstream(config + "/onboarding.json") << R"({"version":1,"completed":true})";
    const std::string panelLog = session.folder() + "/panel.log";
    auto brindell = session.run({BRINDELL_EXECUTABLE}, false, false,
                                {{"QT_QPA_PLATFORM", "offscreen"},
                                 {"TMPDIR", session.folder()},
                                 {"BRINDELL_PANEL_LOG", panelLog}});
    // Every app adjusted: ten rows, none with a status sentence.
    std::string listed;
    const bool tapped = AudioSession::waitUntil(
        [&] {
            listed = ctl(session, {"list", "--json"});
            const auto list = nlohmann::json::parse(listed, nullptr, false);
            if (!list.is_array() || list.size() < apps) {
                return false;
            }
            return std::all_of(list.begin(), list.end(),
                               [](const nlohmann::json& app) { return app["status"].is_null(); });
        },
        60s);
    if (!tapped) {
        std::printf("panel: the ten apps were never all adjusted:\n%s", listed.c_str());
        return;
    }
    std::this_thread::sleep_for(2s); // settle
    const double closed = cpuShare(brindell->pid(), 10s);
    ctl(session, {"show"});
    std::this_thread::sleep_for(1s);
    // The panel's last trace line: "shown ..." while it is open.
    const auto shown = [&panelLog] {
        std::ifstream in(panelLog);
        std::string trace;
        for (std::string line; std::getline(in, line);) {
            trace = line;
        }
        return trace.rfind("shown", 0) == 0;
    };
    if (!shown()) {
        std::printf("panel: the panel did not show\n");
        return;
    }
    const double open = cpuShare(brindell->pid(), 10s);
    if (!shown()) {
        std::printf("panel: the panel hid while it was measured\n");
        return;
    }
    ctl(session, {"toggle"});
    std::printf("cpu share of brindell with %d apps playing: panel closed %.2f %%, panel open "
                "%.2f %% of one core (10 s each)\n",
                apps, closed, open);
    brindell->stop();
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> process;
    std::string quantum;
    bool panelFigure = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--panel") {
            panelFigure = true;
        } else if (std::string(argv[i]) == "--quantum" && i + 1 < argc) {
            quantum = argv[++i];
        } else if (std::string(argv[i]) == "--process") {
            process.assign(argv + i + 1, argv + argc);
            break;
        }
    }
    auto force = [&](AudioSession& session) {
        if (!quantum.empty()) {
            session.runToEnd(
                {"pw-metadata", "-n", "settings", "0", "clock.force-quantum", quantum});
        }
    };
    try {
        if (panelFigure) {
            AudioSession session;
            force(session);
            panel(session);
            return 0;
        }
        {
            AudioSession session;
            force(session);
            latency(session);
        }
        AudioSession session;
        force(session);
        cpu(session, process);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "audio_figures: %s\n", e.what());
        return 1;
    }
    return 0;
}
