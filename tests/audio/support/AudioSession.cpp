#include "support/AudioSession.h"

#include "support/TestFiles.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

#ifndef BRINDELL_TONE_TOOL
#error "BRINDELL_TONE_TOOL must name the tone player"
#endif

namespace brindell::testing {

namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path);
    out << text;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

} // namespace

AudioSession::AudioSession() : AudioSession(Clock{}) {}

AudioSession::AudioSession(Clock clock) {
    std::string pattern = (fs::temp_directory_path() / "brindell-audio-XXXXXX").native();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    folder_ = pattern;
    try {
        writeConfiguration(clock);

        environment_ = currentEnvironment();
        const std::string runtime = folder_ + "/run";
        environment_["XDG_RUNTIME_DIR"] = runtime;
        environment_["PIPEWIRE_RUNTIME_DIR"] = runtime;
        environment_["XDG_CONFIG_HOME"] = folder_ + "/config";
        environment_["XDG_STATE_HOME"] = folder_ + "/state";
        environment_["XDG_DATA_HOME"] = folder_ + "/home/.local/share";
        environment_["HOME"] = folder_ + "/home";
        environment_["PULSE_SERVER"] = "unix:" + runtime + "/pulse/native";
        environment_["PIPEWIRE_REMOTE"] = "";
        environment_["PULSE_RUNTIME_PATH"] = runtime + "/pulse";
        environment_["DISPLAY"] = "";
        environment_["WAYLAND_DISPLAY"] = "";

        // dbus first: WirePlumber and pipewire-pulse expect a session bus. It writes one line
        // with its address.
        dbus_ = startDaemon("dbus-daemon",
                            {"--session", "--nofork", "--nopidfile", "--print-address=1"}, true);
        const std::string address = dbus_->readLine(10s).value_or("");
        if (address.empty()) {
            throw std::runtime_error("dbus-daemon gave no address");
        }
        environment_["DBUS_SESSION_BUS_ADDRESS"] = address;

        // In-process clients of the test reach this session.
        for (const auto& key : {"XDG_RUNTIME_DIR", "PIPEWIRE_RUNTIME_DIR", "XDG_CONFIG_HOME",
                                "XDG_STATE_HOME", "PULSE_SERVER", "DBUS_SESSION_BUS_ADDRESS"}) {
            setenv(key, environment_[key].c_str(), 1);
        }
        unsetenv("PIPEWIRE_REMOTE");

        startServer();
    } catch (const std::exception& e) {
        const std::string message = std::string(e.what()) + "\n" + logs();
        stopServer();
        dbus_.reset();
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        throw std::runtime_error(message);
    }
}

AudioSession::~AudioSession() {
    stopServer();
    dbus_.reset();
    const char* keep = std::getenv("BRINDELL_KEEP_AUDIO_SESSION");
    if (keep == nullptr || *keep == '\0') {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
}

void AudioSession::writeConfiguration(const Clock& clock) {
    for (const char* sub : {"/run", "/state", "/home"}) {
        fs::create_directories(folder_ + sub);
    }
    chmod((folder_ + "/run").c_str(), 0700);
    std::string properties;
    if (clock.rate != 0) {
        const std::string rate = std::to_string(clock.rate);
        properties += "    default.clock.rate = " + rate +
                      "\n    default.clock.allowed-rates = [ " + rate + " ]\n";
    }
    if (clock.quantumLimit != 0) {
        properties +=
            "    default.clock.quantum-limit = " + std::to_string(clock.quantumLimit) + "\n";
    }
    if (clock.quantum != 0) {
        const std::string quantum = std::to_string(clock.quantum);
        for (const char* key : {"quantum", "min-quantum", "max-quantum", "force-quantum"}) {
            properties += "    default.clock." + std::string(key) + " = " + quantum + "\n";
        }
    }
    if (!properties.empty()) {
        writeFile(folder_ + "/config/pipewire/pipewire.conf.d/40-brindell-test-clock.conf",
                  "context.properties = {\n" + properties + "}\n");
    }
    std::string sinks;
    for (const auto& [name, description, priority] :
         {std::tuple{speakers, "Test Speakers", "1100"},
          std::tuple{headphones, "Test Headphones", "1000"}}) {
        sinks +=
            std::string("{ factory = adapter args = { factory.name = support.null-audio-sink") +
            " node.name = \"" + name + "\" node.description = \"" + description +
            "\" media.class = \"Audio/Sink\" audio.position = [ FL FR ] priority.session = " +
            priority + " priority.driver = " + priority + " } }\n";
    }
    writeFile(folder_ + "/config/pipewire/pipewire.conf.d/50-brindell-test-sinks.conf",
              "context.objects = [\n" + sinks + "]\n");
    // No sound card, camera or Bluetooth: the session must not reach the machine's devices.
    writeFile(folder_ + "/config/wireplumber/main.lua.d/51-brindell-test.lua",
              "alsa_monitor.enabled = false\n"
              "v4l2_monitor.enabled = false\n"
              "libcamera_monitor.enabled = false\n");
    writeFile(folder_ + "/config/wireplumber/bluetooth.lua.d/51-brindell-test.lua",
              "bluez_monitor.enabled = false\n");
}

std::unique_ptr<ChildProcess> AudioSession::startDaemon(const std::string& program,
                                                        std::vector<std::string> args,
                                                        bool pipeStdout) {
    ChildProcess::Options options;
    options.argv = {program};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.environment = environment_;
    options.logFile = folder_ + "/" + program + ".log";
    options.pipeStdout = pipeStdout;
    return std::make_unique<ChildProcess>(options);
}

void AudioSession::startServer() {
    const std::string runtime = folder_ + "/run";
    pipewire_ = startDaemon("pipewire");
    if (!waitUntil([&] { return fs::exists(runtime + "/pipewire-0"); }, 10s)) {
        throw std::runtime_error("pipewire did not open its socket");
    }
    startWirePlumber();
    pulse_ = startDaemon("pipewire-pulse");
    if (!waitUntil([&] { return fs::exists(runtime + "/pulse/native"); }, 10s)) {
        throw std::runtime_error("pipewire-pulse did not open its socket");
    }
}

void AudioSession::stopServer() {
    pulse_.reset();
    wireplumber_.reset();
    pipewire_.reset();
    // The old sockets stay behind as files; the new daemons replace them.
    std::error_code ignored;
    fs::remove(folder_ + "/run/pipewire-0", ignored);
    fs::remove(folder_ + "/run/pulse/native", ignored);
}

void AudioSession::stopWirePlumber() {
    wireplumber_.reset();
}

void AudioSession::freezeWirePlumber(bool frozen) {
    if (wireplumber_) {
        wireplumber_->signal(frozen ? SIGSTOP : SIGCONT);
    }
}

void AudioSession::startWirePlumber(const std::string& expectedDefault) {
    const std::string expected = expectedDefault.empty() ? speakers : expectedDefault;
    wireplumber_ = startDaemon("wireplumber");
    const bool ready = waitUntil(
        [&] {
            if (!wireplumber_->running()) {
                return true;
            }
            return defaultSink() == expected;
        },
        20s);
    if (!ready || !wireplumber_->running()) {
        throw std::runtime_error("wireplumber chose no default output");
    }
}

std::string AudioSession::logs() const {
    std::string text;
    for (const char* name : {"pipewire", "wireplumber", "pipewire-pulse", "dbus-daemon"}) {
        const std::string path = folder_ + "/" + name + ".log";
        if (fs::exists(path)) {
            text += "--- " + std::string(name) + ".log\n" + tailOfFile(path, 15);
        }
    }
    return text;
}

std::unique_ptr<ChildProcess> AudioSession::run(std::vector<std::string> argv, bool pipeStdout,
                                                bool pipeStdin, const Environment& extra) {
    ChildProcess::Options options;
    options.argv = std::move(argv);
    options.environment = environment_;
    for (const auto& [key, value] : extra) {
        options.environment[key] = value;
    }
    options.logFile = folder_ + "/client-" + std::to_string(++runs_) + ".log";
    options.pipeStdout = pipeStdout;
    options.pipeStdin = pipeStdin;
    return std::make_unique<ChildProcess>(options);
}

std::optional<int> AudioSession::runToEnd(std::vector<std::string> argv,
                                          std::chrono::milliseconds timeout) {
    auto child = run(std::move(argv));
    if (!child->waitExit(timeout)) {
        return std::nullopt;
    }
    return child->status();
}

std::string AudioSession::plugInSink() {
    auto pactl = run({"pactl", "load-module", "module-null-sink", "sink_name=test-usb",
                      "sink_properties=device.description=Test-USB"},
                     true);
    return pactl->readLine(10s).value_or("");
}

std::unique_ptr<ChildProcess> AudioSession::tonePlayer(const std::vector<std::string>& tones,
                                                       const std::string& target, bool impulse) {
    std::vector<std::string> args;
    if (!target.empty()) {
        args = {"--target", target};
    }
    if (impulse) {
        args.push_back("--impulse");
    }
    args.insert(args.end(), tones.begin(), tones.end());
    return startTone(*this, BRINDELL_TONE_TOOL, args, static_cast<int>(tones.size()));
}

std::unique_ptr<ChildProcess> AudioSession::pwPlay() {
    return run({"pw-play", toneFileAt(440)});
}

std::unique_ptr<ChildProcess> AudioSession::paplay() {
    return run({"paplay", toneFileAt(440)});
}

// A 60 s stereo sine at amplitude 0.5, 16 bits at 48 kHz.
std::string AudioSession::toneFileAt(int frequency) {
    const std::string path = folder_ + "/tone-" + std::to_string(frequency) + ".wav";
    if (!fs::exists(path) &&
        runToEnd({"sox", "-n", "-r", "48000", "-c", "2", "-b", "16", path, "synth", "60", "sine",
                  std::to_string(frequency), "vol", "0.5"}) != 0) {
        throw std::runtime_error("sox made no " + path);
    }
    return path;
}

std::optional<std::string> AudioSession::variable(const std::string& name) const {
    const auto found = environment_.find(name);
    if (found == environment_.end() || found->second.empty()) {
        return std::nullopt;
    }
    return found->second;
}

std::string AudioSession::outputOf(const std::vector<std::string>& argv) {
    auto child = run(argv, true);
    std::string text;
    while (auto line = child->readLine(5s)) {
        text += *line + "\n";
    }
    child->waitExit(5s);
    return text;
}

nlohmann::json AudioSession::dump() {
    auto parsed = nlohmann::json::parse(outputOf({"pw-dump", "--no-colors"}), nullptr, false);
    return parsed.is_discarded() ? nlohmann::json::array() : parsed;
}

namespace {

std::optional<std::string> metadataName(const nlohmann::json& graph, const std::string& key) {
    for (const auto& object : graph) {
        if (object.value("type", "") != "PipeWire:Interface:Metadata" ||
            object["props"].value("metadata.name", "") != "default") {
            continue;
        }
        for (const auto& entry : object.value("metadata", nlohmann::json::array())) {
            if (entry.value("subject", -1) == 0 && entry.value("key", "") == key &&
                entry["value"].is_object()) {
                return entry["value"].value("name", "");
            }
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> AudioSession::defaultSink() {
    return metadataName(dump(), "default.audio.sink");
}

std::optional<std::string> AudioSession::configuredSink() {
    return metadataName(dump(), "default.configured.audio.sink");
}

std::vector<std::string> AudioSession::metadataValues() {
    std::vector<std::string> values;
    for (const auto& object : dump()) {
        if (object.value("type", "") != "PipeWire:Interface:Metadata") {
            continue;
        }
        for (const auto& entry : object.value("metadata", nlohmann::json::array())) {
            values.push_back(entry["value"].is_string() ? entry["value"].get<std::string>()
                                                        : entry["value"].dump());
        }
    }
    return values;
}

std::optional<std::string> AudioSession::leftover(const std::vector<std::string>& needles) {
    auto mentions = [&](const std::string& text) {
        return std::any_of(needles.begin(), needles.end(), [&](const std::string& needle) {
            return text.find(needle) != std::string::npos;
        });
    };
    for (const auto& object : dump()) {
        const auto name = object.value(nlohmann::json::json_pointer("/info/props/node.name"), "");
        if (object.value("type", "") == "PipeWire:Interface:Node" && mentions(name)) {
            return "node " + name;
        }
    }
    for (const auto& value : metadataValues()) {
        if (mentions(value)) {
            return "metadata " + value;
        }
    }
    return std::nullopt;
}

namespace {

// The playback stream nodes in graph whose client says it is pid.
std::vector<int> streamNodesIn(const nlohmann::json& graph, int pid) {
    std::map<int, int> clientPids;
    for (const auto& object : graph) {
        const auto claimed = object.value(
            nlohmann::json::json_pointer("/info/props/application.process.id"), nlohmann::json());
        if (object.value("type", "") == "PipeWire:Interface:Client" && !claimed.is_null()) {
            clientPids[object.value("id", 0)] =
                claimed.is_number() ? claimed.get<int>() : std::stoi(claimed.get<std::string>());
        }
    }
    std::vector<int> streams;
    for (const auto& object : graph) {
        const auto props =
            object.value(nlohmann::json::json_pointer("/info/props"), nlohmann::json::object());
        if (object.value("type", "") == "PipeWire:Interface:Node" &&
            props.value("media.class", "") == "Stream/Output/Audio") {
            const auto client = clientPids.find(props.value("client.id", -1));
            if (client != clientPids.end() && client->second == pid) {
                streams.push_back(object.value("id", 0));
            }
        }
    }
    return streams;
}

} // namespace

std::vector<int> AudioSession::streamNodesOf(int pid) {
    return streamNodesIn(dump(), pid);
}

std::vector<std::string> AudioSession::linkedTargetsOf(int pid) {
    const auto graph = dump();
    const auto streams = streamNodesIn(graph, pid);
    std::map<int, std::string> nodeNames;
    for (const auto& object : graph) {
        if (object.value("type", "") == "PipeWire:Interface:Node") {
            nodeNames[object.value("id", 0)] = object["info"]["props"].value("node.name", "");
        }
    }
    std::vector<std::string> targets;
    for (const auto& object : graph) {
        if (object.value("type", "") != "PipeWire:Interface:Link") {
            continue;
        }
        const auto& info = object["info"];
        const int output = info.value("output-node-id", -1);
        if (std::find(streams.begin(), streams.end(), output) != streams.end()) {
            const std::string target = nodeNames[info.value("input-node-id", -1)];
            if (std::find(targets.begin(), targets.end(), target) == targets.end()) {
                targets.push_back(target);
            }
        }
    }
    return targets;
}

std::string AudioSession::wirePlumberState(const std::string& file) const {
    return readFile(folder_ + "/state/wireplumber/" + file);
}

} // namespace brindell::testing
