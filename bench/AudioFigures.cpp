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
// With --apps [--counts 1,10,50]: brindell with 1, 10 and 50 apps adjusted and playing (paplay and
// pw-play): its CPU share and resident memory, and the extra CPU of the PipeWire daemons against
// the same players untapped, 10 s windows. With --arrival: the time from a player's first buffer
// (heard on the sink) to its row (ctl watch) and to its stored level (heard on the sink, 100 ms
// windows). With --toggle: the time from `brindell ctl toggle` to the panel's window mapped on
// Xvfb.
// --brindell LABEL=PATH (repeatable) runs those three for each build in turn, side by side.
// With --cycle [N]: the IO node's cycle on 512 stereo frames, planar and through interleaved
// copies, beside a memcpy of the same frames (in-process, no session).

#include "XvfbServer.h"
#include "audio/PlanarIO.h"
#include "audio/pipewire/PipeWireHardware.h"
#include "support/AudioSession.h"
#include "support/LevelMeter.h"
#include "tapengine/RenderCallback.h"
#include "tapengine/TapIOState.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sstream>
#include <thread>
#include <unistd.h>

// Last: its macros would clash with the headers above.
#include <X11/Xlib.h>

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
    testing::waitUntil([&] { return state.memory()->nonzeroBuffers.load() >= 2; }, 10s);

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
    const bool tapped = testing::waitUntil(
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
std::string ctl(AudioSession& session, std::vector<std::string> args,
                const std::string& executable = BRINDELL_EXECUTABLE) {
    args.insert(args.begin(), {executable, "ctl"});
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
                                 {"DBUS_STARTER_BUS_TYPE", "session"}, // no panel at start
                                 {"BRINDELL_PANEL_LOG", panelLog}});
    // Every app adjusted: ten rows, none with a status sentence.
    std::string listed;
    const bool tapped = testing::waitUntil(
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

// --- figures of brindell builds side by side -------------------------------------------------

struct Build {
    std::string label;
    std::string executable;
};

double loadAverage() {
    std::ifstream in("/proc/loadavg");
    double load = -1;
    in >> load;
    return load;
}

// VmRSS in MB, or -1.
double residentMB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return -1;
}

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

std::unique_ptr<ChildProcess> startBrindell(AudioSession& session, const Build& build,
                                            Environment extra = {}) {
    const std::string config = session.environment().at("XDG_CONFIG_HOME") + "/brindell";
    std::filesystem::create_directories(config);
    std::ofstream(config + "/onboarding.json") << R"({"version":1,"completed":true})";
    extra.emplace("QT_QPA_PLATFORM", "offscreen");
    extra.emplace("TMPDIR", session.folder());
    // As the bus starts it: no panel at start. Without a tray brindell would open the panel,
    // and its levels would be read throughout the CPU windows.
    extra.emplace("DBUS_STARTER_BUS_TYPE", "session");
    return session.run({build.executable}, false, false, extra);
}

// The apps of `ctl list --json`, or an empty array.
nlohmann::json listed(AudioSession& session, const Build& build) {
    const auto list =
        nlohmann::json::parse(ctl(session, {"list", "--json"}, build.executable), nullptr, false);
    if (list.is_array()) {
        return list;
    }
    return list.is_object() && list.contains("apps") ? list["apps"] : nlohmann::json::array();
}

// Player i of many: paplay for even i, pw-play for odd i, each its own application, a quiet
// 8 kHz tone so that fifty stay below full scale together.
std::unique_ptr<ChildProcess> startPlayer(AudioSession& session, int i) {
    const std::string file = session.folder() + "/tone-" + std::to_string(i) + ".wav";
    if (!std::filesystem::exists(file)) {
        session.runToEnd({"sox", "-n", "-r", "8000", "-c", "2", "-b", "16", file, "synth", "120",
                          "sine", std::to_string(200 + 20 * i), "vol", "0.015"});
    }
    const std::string id = "org.example.Player" + std::to_string(i);
    if (i % 2 == 0) {
        return session.run({"paplay", file}, false, false,
                           {{"PULSE_PROP", "application.id=" + id}});
    }
    return session.run({"pw-play", "-P", "{ application.id = " + id + " }", file});
}

// CPU shares over one window, in % of one core, of several processes at once.
std::vector<double> cpuShares(const std::vector<pid_t>& pids, std::chrono::seconds window) {
    std::vector<double> start;
    for (pid_t pid : pids) {
        start.push_back(cpuSeconds(pid));
    }
    const auto begin = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(window);
    const double wall = msSince(begin) / 1000.0;
    std::vector<double> shares;
    for (std::size_t i = 0; i < pids.size(); ++i) {
        shares.push_back(100.0 * (cpuSeconds(pids[i]) - start[i]) / wall);
    }
    return shares;
}

void apps(const Build& build, int count) {
    AudioSession session;
    std::vector<std::unique_ptr<ChildProcess>> players;
    for (int i = 0; i < count; ++i) {
        players.push_back(startPlayer(session, i));
    }
    const bool playing = testing::waitUntil(
        [&] {
            return std::all_of(players.begin(), players.end(), [&](const auto& player) {
                return !session.linkedTargetsOf(player->pid()).empty();
            });
        },
        60s);
    if (!playing) {
        std::printf("%-7s %3d apps: the players did not all start\n", build.label.c_str(), count);
        return;
    }
    std::this_thread::sleep_for(2s); // settle
    const std::vector<pid_t> daemons{session.serverPid(), session.pulsePid()};
    const auto untapped = cpuShares(daemons, 10s);

    const auto begin = std::chrono::steady_clock::now();
    auto brindell = startBrindell(session, build);
    const bool adjusted = testing::waitUntil(
        [&] {
            const auto list = listed(session, build);
            return static_cast<int>(list.size()) >= count &&
                   std::all_of(list.begin(), list.end(), [](const nlohmann::json& app) {
                       return app["status"].is_null() && app.contains("level") &&
                              !app["level"].is_null();
                   });
        },
        120s);
    const double adjustMs = msSince(begin);
    if (!adjusted) {
        std::printf("%-7s %3d apps: not all adjusted within 120 s\n", build.label.c_str(), count);
        brindell->stop();
        return;
    }
    std::this_thread::sleep_for(2s); // settle
    const double load = loadAverage();
    const auto tapped = cpuShares({brindell->pid(), daemons[0], daemons[1]}, 10s);
    std::printf("%-7s %3d apps: brindell %5.2f %% cpu, %5.1f MB resident | pipewire %5.2f -> "
                "%5.2f %% (+%5.2f) | pipewire-pulse %5.2f -> %5.2f %% (+%5.2f) | all adjusted "
                "%5.1f s after start | load %.2f\n",
                build.label.c_str(), count, tapped[0], residentMB(brindell->pid()), untapped[0],
                tapped[1], tapped[1] - untapped[0], untapped[1], tapped[2], tapped[2] - untapped[1],
                adjustMs / 1000.0, load);
    std::fflush(stdout);
    brindell->stop();
}

// The lines of `ctl watch` with the time each arrived.
class Watch {
public:
    Watch(AudioSession& session, const Build& build)
        : process_(session.run({build.executable, "ctl", "watch"}, true)), reader_([this] {
              while (!stop_) {
                  if (auto line = process_->readLine(200ms)) {
                      std::lock_guard lock(mutex_);
                      lines_.emplace_back(std::chrono::steady_clock::now(), *line);
                  }
              }
          }) {}
    ~Watch() {
        stop_ = true;
        reader_.join();
        process_->stop();
    }
    // The time of the first line since `since` that contains text.
    std::optional<std::chrono::steady_clock::time_point>
    firstWith(const std::string& text, std::chrono::steady_clock::time_point since) {
        std::lock_guard lock(mutex_);
        for (const auto& [at, line] : lines_) {
            if (at >= since && line.find(text) != std::string::npos) {
                return at;
            }
        }
        return std::nullopt;
    }

private:
    std::unique_ptr<ChildProcess> process_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::string>> lines_;
    std::thread reader_;
};

void arrival(const Build& build, int trials) {
    AudioSession session;
    LevelMeter meter(session, AudioSession::speakers, {440});
    const std::string file = session.toneFileAt(440); // amplitude 0.5
    auto brindell = startBrindell(session, build);
    auto play = [&] {
        return session.run({"pw-play", "-P", "{ application.id = org.example.Arrival }", file});
    };
    auto rowOf = [&](pid_t pid) -> std::optional<nlohmann::json> {
        for (const auto& app : listed(session, build)) {
            if (app.value("pid", 0) == pid) {
                return app;
            }
        }
        return std::nullopt;
    };
    // Once: the app's volume set to 50 %, which brindell keeps for it.
    {
        auto player = play();
        if (!testing::waitUntil([&] { return rowOf(player->pid()).has_value(); }, 30s)) {
            std::printf("%-7s arrival: the player never got a row\n", build.label.c_str());
            return;
        }
        ctl(session, {"set-volume", std::to_string(player->pid()), "50%"}, build.executable);
        if (!meter.waitFor(LevelMeter::tonesNear({0.25}), 20s)) {
            std::printf("%-7s arrival: the volume was never applied\n", build.label.c_str());
            return;
        }
        player->stop();
    }
    Watch watch(session, build);
    for (int trial = 0; trial < trials; ++trial) {
        meter.waitFor(LevelMeter::tonesNear({0}), 10s);
        std::this_thread::sleep_for(1s);
        const auto start = std::chrono::steady_clock::now();
        auto player = play();
        const bool heard =
            meter.waitFor([](const auto& w) { return w.tones[0] > 0.02; }, 10s, 1).has_value();
        const auto first = std::chrono::steady_clock::now();
        const bool level = meter.waitFor(LevelMeter::tonesNear({0.25}), 20s, 1).has_value();
        const auto adjusted = std::chrono::steady_clock::now();
        testing::waitUntil(
            [&] {
                return watch.firstWith("(" + std::to_string(player->pid()) + ")", start)
                    .has_value();
            },
            10s);
        const auto row = watch.firstWith("(" + std::to_string(player->pid()) + ")", start);
        auto ms = [](auto from, auto to) {
            return std::chrono::duration<double, std::milli>(to - from).count();
        };
        if (!heard || !level || !row) {
            std::printf("%-7s arrival %d: heard %d, level %d, row %d\n", build.label.c_str(), trial,
                        heard, level, row.has_value());
        } else {
            std::printf("%-7s arrival %d: first buffer heard %4.0f ms after start; row %+5.0f ms, "
                        "adjusted level %+5.0f ms after the first buffer | load %.2f\n",
                        build.label.c_str(), trial, ms(start, first), ms(first, *row),
                        ms(first, adjusted), loadAverage());
        }
        std::fflush(stdout);
        player->stop();
    }
    brindell->stop();
}

// Waits for the next MapNotify (map true) or UnmapNotify on the display; false at the deadline.
bool nextMap(Display* display, bool map, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == (map ? MapNotify : UnmapNotify)) {
                return true;
            }
        }
        pollfd fd{XConnectionNumber(display), POLLIN, 0};
        poll(&fd, 1, 5);
    }
    return false;
}

void toggle(const Build& build, int repeats) {
    test::XvfbServer xvfb("1024x768x24");
    if (xvfb.display().empty()) {
        std::printf("toggle: no Xvfb: %s\n", xvfb.error().c_str());
        return;
    }
    AudioSession session;
    auto player = startPlayer(session, 0);
    auto brindell =
        startBrindell(session, build, {{"DISPLAY", xvfb.display()}, {"QT_QPA_PLATFORM", "xcb"}});
    if (!testing::waitUntil([&] { return listed(session, build).size() == 1; }, 30s)) {
        std::printf("%-7s toggle: brindell never listed the player\n", build.label.c_str());
        return;
    }
    Display* display = XOpenDisplay(xvfb.display().c_str());
    if (display == nullptr) {
        std::printf("toggle: cannot open %s\n", xvfb.display().c_str());
        return;
    }
    XSelectInput(display, XDefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, True);
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        auto show = session.run({build.executable, "ctl", "toggle"});
        const bool mapped = nextMap(display, true, 10s);
        const double ms = msSince(start);
        show->waitExit(10s);
        if (!mapped) {
            std::printf("%-7s toggle: the panel did not map\n", build.label.c_str());
            break;
        }
        times.push_back(ms);
        std::this_thread::sleep_for(500ms);
        auto hide = session.run({build.executable, "ctl", "toggle"});
        nextMap(display, false, 10s);
        hide->waitExit(10s);
        std::this_thread::sleep_for(500ms);
        XSync(display, True);
    }
    XCloseDisplay(display);
    if (!times.empty()) {
        std::sort(times.begin(), times.end());
        std::printf("%-7s ctl toggle -> panel mapped on Xvfb, %zu times: median %.0f ms, min %.0f, "
                    "max %.0f | load %.2f\n",
                    build.label.c_str(), times.size(), times[times.size() / 2], times.front(),
                    times.back(), loadAverage());
    }
    brindell->stop();
}

// --- the IO node's cycle ----------------------------------------------------------------------

constexpr std::uint32_t cycleFrames = 512;

struct NodeBuffers {
    std::vector<float> left = std::vector<float>(cycleFrames);
    std::vector<float> right = std::vector<float>(cycleFrames);
    std::vector<float> outLeft = std::vector<float>(cycleFrames);
    std::vector<float> outRight = std::vector<float>(cycleFrames);
    std::vector<float> interleaved = std::vector<float>(2 * cycleFrames);
    PlanarChannel inputs[2];
    PlanarChannel outputs[2];
    NodeBuffers() {
        for (std::uint32_t i = 0; i < cycleFrames; ++i) {
            left[i] = 0.5f * std::sin(static_cast<float>(i) * 0.0575f);
            right[i] = 0.5f * std::cos(static_cast<float>(i) * 0.0575f);
        }
        inputs[0] = {left.data(), cycleFrames};
        inputs[1] = {right.data(), cycleFrames};
        outputs[0] = {outLeft.data(), cycleFrames};
        outputs[1] = {outRight.data(), cycleFrames};
    }
    PlanarCycle cycle() const { return {cycleFrames, inputs, 2, outputs, 2}; }
};

// One variant, `runs` times; its own symbol for callgrind's --toggle-collect.
__attribute__((noinline)) void nodeCycles(PlanarCycleRunner& runner, NodeBuffers& b,
                                          TapIOState::Memory* memory, int runs, bool switching) {
    const PlanarCycle cycle = b.cycle();
    for (int i = 0; i < runs; ++i) {
        if (switching && i % 100 == 0) {
            memory->gain.store((i / 100) % 2 == 0 ? 0.2f : 1.0f);
        }
        runner.run({}, cycle);
        asm volatile("" : : "r"(b.outLeft.data()) : "memory");
    }
}

__attribute__((noinline)) void memcpys(NodeBuffers& b, int runs) {
    for (int i = 0; i < runs; ++i) {
        std::memcpy(b.interleaved.data(), b.left.data(), 2 * cycleFrames * sizeof(float));
        asm volatile("" : : "r"(b.interleaved.data()) : "memory");
    }
}

// Nanoseconds per run: the best of several batches, the fairest figure on a shared machine.
template <class F> double bestNanos(F batch, int runs) {
    double best = 1e18;
    for (int round = 0; round < 15; ++round) {
        const auto start = std::chrono::steady_clock::now();
        batch(runs);
        best = std::min(
            best, std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
                          .count() /
                      runs);
    }
    return best;
}

void cycle(int runs) {
    NodeBuffers b;
    TapIOState planarState(0.7f, false);
    TapIOState interleavedState(0.7f, false);
    planarState.memory()->passthrough.store(1);
    interleavedState.memory()->passthrough.store(1);
    PlanarCycleRunner planar(makeTapIOBlock(planarState.memory()), 2, 2);
    TapIOState::Memory* memory = interleavedState.memory();
    // What the node ran before it had a planar form: the block through interleaved copies.
    PlanarCycleRunner interleaved([memory](const AudioTimeStamp&, const AudioBufferList& in,
                                           const AudioTimeStamp&, AudioBufferList& out,
                                           const AudioTimeStamp&) { renderTap(in, out, memory); },
                                  2, 2);
    const double copy = bestNanos([&](int n) { memcpys(b, n); }, runs);
    std::printf("IO node cycle, 512 stereo frames, best of 15 x %d runs | load %.2f\n", runs,
                loadAverage());
    std::printf("  memcpy of the same frames (4 KB):        %7.1f ns\n", copy);
    for (const bool switching : {false, true}) {
        const double now = bestNanos(
            [&](int n) { nodeCycles(planar, b, planarState.memory(), n, switching); }, runs);
        const double before =
            bestNanos([&](int n) { nodeCycles(interleaved, b, memory, n, switching); }, runs);
        const char* what = switching ? "gain switching every 100" : "steady gain             ";
        std::printf("  %s planar:      %7.1f ns (%.1fx memcpy)\n", what, now, now / copy);
        std::printf("  %s interleaved: %7.1f ns (%.1fx memcpy)\n", what, before, before / copy);
    }
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> process;
    std::string quantum;
    bool panelFigure = false;
    bool appsFigure = false;
    bool arrivalFigure = false;
    bool toggleFigure = false;
    int cycleRuns = 0;
    std::vector<int> counts{1, 10, 50};
    std::vector<Build> builds;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--panel") {
            panelFigure = true;
        } else if (arg == "--apps") {
            appsFigure = true;
        } else if (arg == "--arrival") {
            arrivalFigure = true;
        } else if (arg == "--toggle") {
            toggleFigure = true;
        } else if (arg == "--cycle") {
            cycleRuns = i + 1 < argc && std::isdigit(argv[i + 1][0]) ? std::stoi(argv[++i]) : 20000;
        } else if (arg == "--counts" && i + 1 < argc) {
            counts.clear();
            std::istringstream list(argv[++i]);
            for (std::string count; std::getline(list, count, ',');) {
                counts.push_back(std::stoi(count));
            }
        } else if (arg == "--brindell" && i + 1 < argc) {
            const std::string build = argv[++i];
            const auto equals = build.find('=');
            builds.push_back(equals == std::string::npos
                                 ? Build{"brindell", build}
                                 : Build{build.substr(0, equals), build.substr(equals + 1)});
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
    if (builds.empty()) {
        builds.push_back({"brindell", BRINDELL_EXECUTABLE});
    }
    try {
        if (cycleRuns > 0) {
            cycle(cycleRuns);
        }
        if (appsFigure) {
            for (const int count : counts) {
                for (const Build& build : builds) {
                    apps(build, count);
                }
            }
        }
        if (arrivalFigure) {
            for (const Build& build : builds) {
                arrival(build, 2);
            }
        }
        if (toggleFigure) {
            for (const Build& build : builds) {
                toggle(build, 6);
            }
        }
        if (cycleRuns > 0 || appsFigure || arrivalFigure || toggleFigure) {
            return 0;
        }
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
