#include "app/SourceTest.h"

#include "app/Diagnostics.h"
#include "queue/ThreadQueue.h"
#include "sources/AudioSourceMonitor.h"
#include "sources/WorkspaceAppInfoProvider.h"
#include "sources/WorkspaceProcessGrouper.h"
#include "sources/XdgWorkspace.h"
#include "sources/pipewire/PipeWireProcessSource.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace brindell {

namespace {

using WallClock = std::chrono::steady_clock;

constexpr const char* logName = "sourcetest.log";
constexpr Seconds pollInterval = 3.0; // as the live engine polls

void log(const std::string& line) {
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
    writeLog(logName, line + "\n");
}

// Names come from desktop entries and executables: quotes, backslashes and control characters
// are escaped so that one source stays one field and one list one line.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(byte));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

} // namespace

std::string sourceListLine(double elapsed, const std::vector<AudioSource>& sources) {
    char time[32];
    std::snprintf(time, sizeof time, "%.3f s:", elapsed);
    std::string line = time;
    if (sources.empty()) {
        return line + " none";
    }
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const AudioSource& source = sources[i];
        line += (i == 0 ? " " : "; ") + quoted(source.name) + " " + std::to_string(source.pid) +
                " " + (source.bundleID && !source.bundleID->empty() ? *source.bundleID : "-") + " ";
        for (std::size_t m = 0; m < source.memberPIDs.size(); ++m) {
            line += (m == 0 ? "" : ",") + std::to_string(source.memberPIDs[m]);
        }
    }
    return line;
}

int sourceTestMain(double seconds, Termination& termination) {
    writeLog(logName, "", false);
    auto workspace = std::make_shared<XdgWorkspace>(XdgWorkspace::Options::fromEnvironment());
    auto source = makePipeWireProcessSource(workspace);
    auto monitor = AudioSourceMonitor::create(
        source, std::make_shared<WorkspaceAppInfoProvider>(workspace),
        static_cast<pid_type>(getpid()), WorkspaceProcessGrouper::overWorkspace(workspace));
    auto queue = std::make_shared<ThreadQueue>("com.quorvel.taskor.brindell.mixer");
    const auto began = WallClock::now();
    monitor->setOnChange([began](const std::vector<AudioSource>& sources) {
        log(sourceListLine(std::chrono::duration<double>(WallClock::now() - began).count(),
                           sources));
    });
    queue->sync([&] { monitor->start(queue, pollInterval); });
    termination.waitFor(std::chrono::milliseconds(static_cast<std::int64_t>(seconds * 1000.0)));
    queue->sync([&] { monitor->stop(); });
    const bool reached = source->isConnected();
    monitor.reset();
    queue.reset();
    source.reset();
    if (!reached) {
        writeLog(logName, "sourcetest: the audio server could not be reached\n");
        std::fprintf(stderr, "brindell: the audio server could not be reached\n");
        return 1;
    }
    return 0;
}

} // namespace brindell
