// brindell-tone: a PipeWire client for the audio tests. It plays one stereo stream per tone
// given as FREQ:AMP (a sine; with --impulse a one-sample click of that amplitude every half
// second) and takes commands on standard input, one per line:
//   open FREQ:AMP   open one more stream in this process
//   close N         close stream N (numbered from 0 in opening order)
//   pause N         deactivate stream N (its node leaves the running state); resume N undoes it
//   fork FREQ:AMP   start a child process that plays that tone (on the default output)
//   quit
// It reports on standard output: "streaming N NODE" when stream N plays, "forked PID",
// "closed N", "paused N", "resumed N". --app-id ID gives the streams that application.id.

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

namespace {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
struct spa_source* addIO(struct pw_loop* loop, int fd, spa_source_io_func_t func, void* data) {
    return pw_loop_add_io(loop, fd, SPA_IO_IN | SPA_IO_HUP, false, func, data);
}
struct spa_source* addSignal(struct pw_loop* loop, int signo, spa_source_signal_func_t func,
                             void* data) {
    return pw_loop_add_signal(loop, signo, func, data);
}
#pragma GCC diagnostic pop

constexpr std::uint32_t rate = 48000;
constexpr std::uint32_t channels = 2;

struct Tone {
    double frequency = 440;
    double amplitude = 0.5;
};

bool parseTone(const std::string& text, Tone& tone) {
    auto colon = text.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    char* end = nullptr;
    tone.frequency = std::strtod(text.c_str(), &end);
    tone.amplitude = std::strtod(text.c_str() + colon + 1, &end);
    return tone.frequency > 0 && tone.amplitude >= 0 && tone.amplitude <= 1;
}

struct Tool;

struct Stream {
    Tool* tool = nullptr;
    int index = 0;
    Tone tone;
    struct pw_stream* stream = nullptr;
    struct spa_hook listener {};
    std::uint64_t frame = 0;
    bool announced = false;
};

struct Tool {
    struct pw_main_loop* loop = nullptr;
    std::string name = "brindell-tone";
    std::string target;
    std::string appID;
    bool impulse = false;
    std::vector<std::unique_ptr<Stream>> streams;
    std::string input;
};

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void onProcess(void* data) {
    auto* s = static_cast<Stream*>(data);
    struct pw_buffer* buffer = pw_stream_dequeue_buffer(s->stream);
    if (buffer == nullptr) {
        return;
    }
    struct spa_data& d = buffer->buffer->datas[0];
    auto* out = static_cast<float*>(d.data);
    if (out == nullptr) {
        pw_stream_queue_buffer(s->stream, buffer);
        return;
    }
    const std::uint32_t stride = sizeof(float) * channels;
    std::uint64_t frames = d.maxsize / stride;
    if (buffer->requested != 0) {
        frames = std::min<std::uint64_t>(frames, buffer->requested);
    }
    for (std::uint64_t i = 0; i < frames; ++i, ++s->frame) {
        float value = 0;
        if (s->tool->impulse) {
            value = s->frame % (rate / 2) == 0 ? static_cast<float>(s->tone.amplitude) : 0.0f;
        } else {
            value = static_cast<float>(
                s->tone.amplitude *
                std::sin(2.0 * M_PI * s->tone.frequency * static_cast<double>(s->frame) / rate));
        }
        for (std::uint32_t c = 0; c < channels; ++c) {
            out[i * channels + c] = value;
        }
    }
    d.chunk->offset = 0;
    d.chunk->stride = static_cast<std::int32_t>(stride);
    d.chunk->size = static_cast<std::uint32_t>(frames * stride);
    pw_stream_queue_buffer(s->stream, buffer);
}

void onStateChanged(void* data, enum pw_stream_state, enum pw_stream_state state, const char*) {
    auto* s = static_cast<Stream*>(data);
    if (state == PW_STREAM_STATE_STREAMING && !s->announced) {
        s->announced = true;
        say("streaming " + std::to_string(s->index) + " " +
            std::to_string(pw_stream_get_node_id(s->stream)));
    }
}

bool openStream(Tool& tool, const Tone& tone) {
    auto s = std::make_unique<Stream>();
    s->tool = &tool;
    s->index = static_cast<int>(tool.streams.size());
    s->tone = tone;
    const std::string nodeName = tool.name + "-" + std::to_string(s->index);
    struct pw_properties* props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE, "Music",
        PW_KEY_APP_NAME, tool.name.c_str(), PW_KEY_NODE_NAME, nodeName.c_str(), PW_KEY_MEDIA_NAME,
        nodeName.c_str(), PW_KEY_NODE_LATENCY, "2048/48000", nullptr);
    if (!tool.target.empty()) {
        pw_properties_set(props, PW_KEY_TARGET_OBJECT, tool.target.c_str());
    }
    if (!tool.appID.empty()) {
        pw_properties_set(props, PW_KEY_APP_ID, tool.appID.c_str());
    }
    static const struct pw_stream_events events = [] {
        struct pw_stream_events e {};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = &onStateChanged;
        e.process = &onProcess;
        return e;
    }();
    s->stream = pw_stream_new_simple(pw_main_loop_get_loop(tool.loop), nodeName.c_str(), props,
                                     &events, s.get());
    if (s->stream == nullptr) {
        return false;
    }
    std::uint8_t buffer[1024];
    struct spa_pod_builder builder {};
    spa_pod_builder_init(&builder, buffer, sizeof buffer);
    struct spa_audio_info_raw info {};
    info.format = SPA_AUDIO_FORMAT_F32;
    info.rate = rate;
    info.channels = channels;
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
    const struct spa_pod* params[1] = {
        spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
    // Filled on the data thread, with a long quantum: the tests run on busy two-core machines.
    const auto flags = static_cast<enum pw_stream_flags>(
        PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
    if (pw_stream_connect(s->stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) < 0) {
        return false;
    }
    tool.streams.push_back(std::move(s));
    return true;
}

void forkPlayer(Tool& tool, std::string tone) {
    std::string program = "brindell-tone";
    std::string option = "--name";
    std::string name = tool.name + "-child";
    char* argv[] = {program.data(), option.data(), name.data(), tone.data(), nullptr};
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        // Its standard input is not ours: the child takes no commands.
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        execv("/proc/self/exe", argv);
        _exit(127);
    }
    say(child > 0 ? "forked " + std::to_string(child) : "fork failed");
}

void command(Tool& tool, const std::string& line) {
    Tone tone;
    char verb[8];
    std::size_t index = 0;
    if (line.rfind("open ", 0) == 0 && parseTone(line.substr(5), tone)) {
        if (!openStream(tool, tone)) {
            say("open failed");
        }
    } else if (line.rfind("fork ", 0) == 0 && parseTone(line.substr(5), tone)) {
        forkPlayer(tool, line.substr(5));
    } else if (std::sscanf(line.c_str(), "%7s %zu", verb, &index) == 2 &&
               index < tool.streams.size() && tool.streams[index]->stream != nullptr) {
        const std::string what = verb;
        auto*& stream = tool.streams[index]->stream;
        if (what == "close") {
            pw_stream_destroy(stream);
            stream = nullptr;
            say("closed " + std::to_string(index));
        } else if (what == "pause" || what == "resume") {
            pw_stream_set_active(stream, what == "resume");
            say(what + "d " + std::to_string(index));
        }
    } else if (line == "quit") {
        pw_main_loop_quit(tool.loop);
    } else if (!line.empty()) {
        say("unknown command: " + line);
    }
}

void onInput(void* data, int fd, std::uint32_t mask) {
    auto* tool = static_cast<Tool*>(data);
    char chunk[256];
    const ssize_t n = (mask & SPA_IO_IN) != 0 ? read(fd, chunk, sizeof chunk) : 0;
    if (n <= 0) {
        return; // no commands any more; keep playing until told to stop by a signal
    }
    tool->input.append(chunk, static_cast<std::size_t>(n));
    std::size_t newline = 0;
    while ((newline = tool->input.find('\n')) != std::string::npos) {
        const std::string line = tool->input.substr(0, newline);
        tool->input.erase(0, newline + 1);
        command(*tool, line);
    }
}

void onSignal(void* data, int /*signo*/) {
    pw_main_loop_quit(static_cast<Tool*>(data)->loop);
}

} // namespace

int main(int argc, char** argv) {
    Tool tool;
    std::vector<Tone> tones;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--name" || arg == "--target" || arg == "--app-id") && i + 1 < argc) {
            (arg == "--name"     ? tool.name
             : arg == "--target" ? tool.target
                                 : tool.appID) = argv[++i];
        } else if (arg == "--impulse") {
            tool.impulse = true;
        } else if (Tone tone; parseTone(arg, tone)) {
            tones.push_back(tone);
        } else {
            std::fprintf(stderr, "usage: brindell-tone [--name N] [--target SINK] [--app-id ID] "
                                 "[--impulse] FREQ:AMP...\n");
            return 2;
        }
    }
    pw_init(&argc, &argv);
    tool.loop = pw_main_loop_new(nullptr);
    if (tool.loop == nullptr) {
        std::fprintf(stderr, "brindell-tone: no main loop\n");
        return 1;
    }
    struct pw_loop* loop = pw_main_loop_get_loop(tool.loop);
    addSignal(loop, SIGINT, &onSignal, &tool);
    addSignal(loop, SIGTERM, &onSignal, &tool);
    addIO(loop, STDIN_FILENO, &onInput, &tool);
    for (const Tone& tone : tones) {
        if (!openStream(tool, tone)) {
            std::fprintf(stderr, "brindell-tone: cannot open a stream: %s\n", std::strerror(errno));
            return 1;
        }
    }
    pw_main_loop_run(tool.loop);
    for (auto& s : tool.streams) {
        if (s->stream != nullptr) {
            pw_stream_destroy(s->stream);
        }
    }
    pw_main_loop_destroy(tool.loop);
    pw_deinit();
    return 0;
}
