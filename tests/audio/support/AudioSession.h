#pragma once

#include "support/ChildProcess.h"
#include "support/TestSupport.h"

#include <chrono>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace brindell::testing {

using namespace std::chrono_literals;

// A private audio session for one test: its own dbus, pipewire (with two stereo null sinks,
// "test-speakers" at priority 1100 and "test-headphones" at 1000), wireplumber and
// pipewire-pulse, in fresh runtime, config, state and home folders under a temporary folder.
// It touches no audio session of the machine's and opens no sound card.
//
// Construction starts everything and waits until WirePlumber has chosen test-speakers as the
// default; it throws std::runtime_error with the daemons' logs when that fails. It also points
// this process at the session, so PipeWire clients made in the test reach it. Destruction stops
// every process it started, clients first, and removes the folder.
class AudioSession {
public:
    static constexpr const char* speakers = "test-speakers";
    static constexpr const char* headphones = "test-headphones";

    // The graph's clock, when a test needs other than PipeWire's defaults: a fixed rate, a
    // forced quantum and the quantum limit (0: the default).
    struct Clock {
        unsigned rate = 0;
        unsigned quantum = 0;
        unsigned quantumLimit = 0;
    };

    AudioSession();
    explicit AudioSession(Clock clock);
    ~AudioSession();
    AudioSession(const AudioSession&) = delete;
    AudioSession& operator=(const AudioSession&) = delete;

    const std::string& folder() const { return folder_; }
    const Environment& environment() const { return environment_; }
    // A variable of the session's environment; none when unset or empty.
    std::optional<std::string> variable(const std::string& name) const;

    // --- clients --------------------------------------------------------------------------
    // The project's tone player: one stream per FREQ:AMP tone; with impulse, clicks of that
    // amplitude every half second instead of sines. Waits until every stream plays.
    std::unique_ptr<ChildProcess> tonePlayer(const std::vector<std::string>& tones,
                                             const std::string& target = {}, bool impulse = false);
    // pw-play / paplay playing a 440 Hz tone at amplitude 0.5 (a 60 s file made once).
    std::unique_ptr<ChildProcess> pwPlay();
    std::unique_ptr<ChildProcess> paplay();
    // A 60 s tone file of the given frequency at amplitude 0.5, made once.
    std::string toneFileAt(int frequency);
    // Any program, with the session's environment (and extra variables) and a log in the
    // folder.
    std::unique_ptr<ChildProcess> run(std::vector<std::string> argv, bool pipeStdout = false,
                                      bool pipeStdin = false, const Environment& extra = {});
    // Loads a null sink "test-usb" (described "Test-USB") as a USB headset plugged in; the
    // module's index for pactl unload-module, empty when it failed.
    std::string plugInSink();
    // Runs a program to its end (bounded by timeout); its exit status, or none on time-out.
    std::optional<int> runToEnd(std::vector<std::string> argv,
                                std::chrono::milliseconds timeout = 10s);

    // --- the graph, as another client sees it (pw-dump) ------------------------------------
    nlohmann::json dump();
    // What a command prints, whole lines only, once it ends (5 s at most per line).
    std::string outputOf(const std::vector<std::string>& argv);
    std::optional<std::string> defaultSink();
    std::optional<std::string> configuredSink();
    // Every metadata value in the graph.
    std::vector<std::string> metadataValues();
    // The first node.name or metadata value that contains any of the needles, described for a
    // failure message; none when the graph holds no such thing.
    std::optional<std::string> leftover(const std::vector<std::string>& needles);
    // The ids of the playback stream nodes whose client says it is pid, and the node.names of
    // the nodes they are linked to.
    std::vector<int> streamNodesOf(int pid);
    std::vector<std::string> linkedTargetsOf(int pid);
    // The file WirePlumber keeps under the session's state folder (for example
    // "restore-stream"); empty when it does not exist.
    std::string wirePlumberState(const std::string& file) const;

    // --- the session itself -----------------------------------------------------------------
    void stopWirePlumber();
    // SIGSTOP (frozen) or SIGCONT to WirePlumber: it keeps its connection but answers nothing.
    void freezeWirePlumber(bool frozen);
    // Starts it and waits until it chose a default again: the given sink (none: speakers).
    void startWirePlumber(const std::string& expectedDefault = {});
    // Stops pipewire, wireplumber and pipewire-pulse; startServer starts them again.
    void stopServer();
    void startServer();
    // The daemons' logs, for failure messages.
    std::string logs() const;
    // The pids of the pipewire and pipewire-pulse daemons (for the figures); -1 when stopped.
    int serverPid() const { return pipewire_ ? pipewire_->pid() : -1; }
    int pulsePid() const { return pulse_ ? pulse_->pid() : -1; }

private:
    std::unique_ptr<ChildProcess> startDaemon(const std::string& program,
                                              std::vector<std::string> args = {},
                                              bool pipeStdout = false);
    void writeConfiguration(const Clock& clock);

    std::string folder_;
    Environment environment_;
    std::unique_ptr<ChildProcess> dbus_;
    std::unique_ptr<ChildProcess> pipewire_;
    std::unique_ptr<ChildProcess> wireplumber_;
    std::unique_ptr<ChildProcess> pulse_;
    int runs_ = 0;
};

} // namespace brindell::testing
