#include "support/AudioSession.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <poll.h>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
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

// A 16-bit stereo WAV at 48 kHz: a sine (440 Hz unless told) at amplitude 0.5 (16384 of 32768).
void writeToneWav(const std::string& path, int seconds, int frequency = 440) {
    const std::uint32_t rate = 48000;
    const std::uint32_t frames = rate * static_cast<std::uint32_t>(seconds);
    const std::uint32_t dataBytes = frames * 4;
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    u32(36 + dataBytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1); // PCM
    u16(2);
    u32(rate);
    u32(rate * 4);
    u16(4);
    u16(16);
    out.write("data", 4);
    u32(dataBytes);
    std::vector<std::int16_t> block(2 * 4800);
    for (std::uint32_t start = 0; start < frames; start += 4800) {
        for (std::uint32_t i = 0; i < 4800; ++i) {
            const double t = static_cast<double>(start + i) / rate;
            const auto sample = static_cast<std::int16_t>(
                std::lround(16384.0 * std::sin(2.0 * M_PI * frequency * t)));
            block[2 * i] = sample;
            block[2 * i + 1] = sample;
        }
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(block.size() * 2));
    }
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

} // namespace

AudioSession::AudioSession() : AudioSession(Clock{}) {}

AudioSession::AudioSession(Clock clock) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/brindell-audio-XXXXXX";
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

        // dbus first: WirePlumber and pipewire-pulse expect a session bus.
        int addressPipe[2];
        if (pipe2(addressPipe, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
        {
            ChildProcess::Options options;
            options.argv = {"dbus-daemon", "--session", "--nofork", "--nopidfile",
                            "--print-address=3"};
            options.environment = environment_;
            options.logFile = folder_ + "/dbus.log";
            options.extraFd = addressPipe[1];
            dbus_ = std::make_unique<ChildProcess>(options);
        }
        close(addressPipe[1]);
        // dbus writes one line with its address.
        const std::string address = readLineFrom(addressPipe[0], 10s).value_or("");
        close(addressPipe[0]);
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
        pulse_.reset();
        wireplumber_.reset();
        pipewire_.reset();
        dbus_.reset();
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        throw std::runtime_error(message);
    }
}

AudioSession::~AudioSession() {
    pulse_.reset();
    wireplumber_.reset();
    pipewire_.reset();
    dbus_.reset();
    const char* keep = std::getenv("BRINDELL_KEEP_AUDIO_SESSION");
    if (keep == nullptr || *keep == '\0') {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
}

void AudioSession::writeConfiguration(const Clock& clock) {
    fs::create_directories(folder_ + "/run");
    chmod((folder_ + "/run").c_str(), 0700);
    fs::create_directories(folder_ + "/state");
    fs::create_directories(folder_ + "/home");
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
    writeFile(folder_ + "/config/pipewire/pipewire.conf.d/50-brindell-test-sinks.conf", R"(
context.objects = [
    { factory = adapter
        args = {
            factory.name = support.null-audio-sink
            node.name = "test-speakers"
            node.description = "Test Speakers"
            media.class = "Audio/Sink"
            audio.position = [ FL FR ]
            priority.session = 1100
            priority.driver = 1100
        }
    }
    { factory = adapter
        args = {
            factory.name = support.null-audio-sink
            node.name = "test-headphones"
            node.description = "Test Headphones"
            media.class = "Audio/Sink"
            audio.position = [ FL FR ]
            priority.session = 1000
            priority.driver = 1000
        }
    }
]
)");
    // No sound card, camera or Bluetooth: the session must not reach the machine's devices.
    writeFile(folder_ + "/config/wireplumber/main.lua.d/51-brindell-test.lua",
              "alsa_monitor.enabled = false\n"
              "v4l2_monitor.enabled = false\n"
              "libcamera_monitor.enabled = false\n");
    writeFile(folder_ + "/config/wireplumber/bluetooth.lua.d/51-brindell-test.lua",
              "bluez_monitor.enabled = false\n");
}

std::unique_ptr<ChildProcess> AudioSession::startDaemon(const std::string& program,
                                                        std::vector<std::string> args) {
    ChildProcess::Options options;
    options.argv = {program};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.environment = environment_;
    options.logFile = folder_ + "/" + program + ".log";
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

void AudioSession::restartServer() {
    pulse_.reset();
    wireplumber_.reset();
    pipewire_.reset();
    // The old sockets stay behind as files; the new daemons replace them.
    std::error_code ignored;
    fs::remove(folder_ + "/run/pipewire-0", ignored);
    fs::remove(folder_ + "/run/pulse/native", ignored);
    startServer();
}

void AudioSession::stopWirePlumber() {
    wireplumber_.reset();
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
    for (const char* name : {"pipewire", "wireplumber", "pipewire-pulse", "dbus"}) {
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

std::unique_ptr<ChildProcess> AudioSession::tonePlayer(const std::vector<std::string>& tones,
                                                       const std::string& target, bool impulse) {
    std::vector<std::string> argv = {BRINDELL_TONE_TOOL};
    if (!target.empty()) {
        argv.insert(argv.end(), {"--target", target});
    }
    if (impulse) {
        argv.push_back("--impulse");
    }
    argv.insert(argv.end(), tones.begin(), tones.end());
    auto player = run(argv, true, true);
    for (std::size_t i = 0; i < tones.size(); ++i) {
        if (!player->waitForLine("streaming", 10s)) {
            throw std::runtime_error("the tone player did not start playing");
        }
    }
    return player;
}

std::string AudioSession::toneFile() {
    if (toneFile_.empty()) {
        toneFile_ = folder_ + "/tone-440.wav";
        writeToneWav(toneFile_, 60);
    }
    return toneFile_;
}

std::unique_ptr<ChildProcess> AudioSession::pwPlay(const std::string& target) {
    std::vector<std::string> argv = {"pw-play"};
    if (!target.empty()) {
        argv.insert(argv.end(), {"--target", target});
    }
    argv.push_back(toneFile());
    return run(argv);
}

std::string AudioSession::toneFileAt(int frequency) {
    const std::string path = folder_ + "/tone-" + std::to_string(frequency) + ".wav";
    if (!std::filesystem::exists(path)) {
        writeToneWav(path, 60, frequency);
    }
    return path;
}

std::unique_ptr<ChildProcess> AudioSession::paplay() {
    return run({"paplay", toneFile()});
}

nlohmann::json AudioSession::dump() {
    auto child = run({"pw-dump", "--no-colors"}, true);
    std::string text;
    while (auto line = child->readLine(5s)) {
        text += *line + "\n";
    }
    child->waitExit(5s);
    auto parsed = nlohmann::json::parse(text, nullptr, false);
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

std::vector<std::string> AudioSession::nodeNames() {
    std::vector<std::string> names;
    for (const auto& object : dump()) {
        if (object.value("type", "") == "PipeWire:Interface:Node") {
            names.push_back(object["info"]["props"].value("node.name", ""));
        }
    }
    return names;
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
    for (const auto& name : nodeNames()) {
        if (mentions(name)) {
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

std::vector<std::string> AudioSession::linkedTargetsOf(int pid) {
    const auto graph = dump();
    std::map<int, std::string> nodeNames;
    std::map<int, int> clientPids;
    std::vector<int> streams;
    for (const auto& object : graph) {
        const std::string type = object.value("type", "");
        if (type == "PipeWire:Interface:Client") {
            const auto& props = object["info"]["props"];
            if (props.contains("application.process.id")) {
                clientPids[object.value("id", 0)] =
                    props["application.process.id"].is_number()
                        ? props["application.process.id"].get<int>()
                        : std::stoi(props["application.process.id"].get<std::string>());
            }
        }
    }
    for (const auto& object : graph) {
        if (object.value("type", "") != "PipeWire:Interface:Node") {
            continue;
        }
        const auto& props = object["info"]["props"];
        nodeNames[object.value("id", 0)] = props.value("node.name", "");
        if (props.value("media.class", "") == "Stream/Output/Audio") {
            const int client = props.value("client.id", -1);
            if (clientPids.count(client) != 0 && clientPids[client] == pid) {
                streams.push_back(object.value("id", 0));
            }
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
    std::ifstream in(folder_ + "/state/wireplumber/" + file);
    std::string text;
    std::string line;
    while (std::getline(in, line)) {
        text += line + "\n";
    }
    return text;
}

} // namespace brindell::testing
