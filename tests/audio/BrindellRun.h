#pragma once

// brindell itself in a private audio session, driven as a user's script drives it: through
// `brindell ctl`. For the tests compiled with BRINDELL_EXECUTABLE.

#include "support/AudioSession.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sys/wait.h>

namespace brindell::testing {

struct CtlOutcome {
    int status = -1; // the exit status; -1 when it did not end in time or was killed
    std::string output;
};

// brindell ctl ARGS in the session, to its end.
inline CtlOutcome ctl(AudioSession& session, std::vector<std::string> args) {
    args.insert(args.begin(), {BRINDELL_EXECUTABLE, "ctl"});
    auto process = session.run(args, true);
    CtlOutcome outcome;
    while (const auto line = process->readLine(std::chrono::seconds(15))) {
        outcome.output += *line + "\n";
    }
    if (process->waitExit(std::chrono::seconds(15)) && process->status() &&
        WIFEXITED(*process->status())) {
        outcome.status = WEXITSTATUS(*process->status());
    }
    return outcome;
}

// The app entries of `ctl list --json`.
inline nlohmann::json appsOf(const std::string& output) {
    const auto document = nlohmann::json::parse(output, nullptr, false);
    if (document.is_array()) {
        return document;
    }
    return document.is_object() && document.contains("apps") ? document["apps"]
                                                             : nlohmann::json::array();
}

inline const nlohmann::json* appWithPid(const nlohmann::json& apps, int pid) {
    for (const auto& app : apps) {
        if (app.value("pid", 0) == pid) {
            return &app;
        }
    }
    return nullptr;
}

// Waits until `ctl list --json` shows the apps as `wanted` would have them: empty then, else the
// last list, for the failure message.
inline std::string waitForList(AudioSession& session,
                               const std::function<bool(const nlohmann::json& apps)>& wanted,
                               std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    std::string last;
    const bool shown = waitUntil(
        [&] {
            last = ctl(session, {"list", "--json"}).output;
            return wanted(appsOf(last));
        },
        timeout);
    return shown ? std::string() : last;
}

// The app of pid, listed and adjusted (no status); null otherwise.
inline const nlohmann::json* adjustedApp(const nlohmann::json& apps, int pid) {
    const auto* app = appWithPid(apps, pid);
    return app != nullptr && (*app)["status"].is_null() ? app : nullptr;
}

// brindell as a user runs it, past the first run (the engine starts at once), on Qt's offscreen
// platform, its messages in `log` (exec: the process stays brindell itself).
inline std::unique_ptr<ChildProcess> startBrindell(AudioSession& session, const std::string& log) {
    const std::string config = session.environment().at("XDG_CONFIG_HOME") + "/brindell";
    std::filesystem::create_directories(config);
    std::ofstream(config + "/onboarding.json") << R"({"version":1,"completed":true})";
    return session.run({"/bin/sh", "-c", "exec \"$0\" 2>>\"$1\"", BRINDELL_EXECUTABLE, log}, false,
                       false, {{"QT_QPA_PLATFORM", "offscreen"}, {"TMPDIR", session.folder()}});
}

// The crash diagnostics brindell left in the session (none after a run without a crash).
inline std::vector<std::string> crashDiagnostics(const AudioSession& session) {
    std::vector<std::string> found;
    std::error_code ignored;
    const std::string folder = session.environment().at("XDG_STATE_HOME") + "/brindell/crashes";
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        found.push_back(entry.path().string());
    }
    return found;
}

} // namespace brindell::testing
