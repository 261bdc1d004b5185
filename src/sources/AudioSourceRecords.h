#pragma once

#include "audio/AudioRecords.h"

#include <optional>
#include <string>
#include <vector>

namespace brindell {

// Where an application's icon comes from. The core never holds pixels: the interface layer
// draws a theme icon by name, or loads the file.
struct IconReference {
    enum class Kind { themeName, file };
    Kind kind = Kind::themeName;
    std::string value;

    static IconReference theme(std::string name) { return {Kind::themeName, std::move(name)}; }
    static IconReference file(std::string path) { return {Kind::file, std::move(path)}; }
    friend bool operator==(const IconReference&, const IconReference&) = default;
};

// The theme's icon for a program that belongs to no installed application.
inline constexpr const char* executableIconName = "application-x-executable";

// One audio process object as read in one poll.
struct AudioProcessInfo {
    AudioObjectID objectID = 0;
    pid_type pid = 0;
    std::optional<std::string> bundleID; // on Linux: the application id, when it has one
    bool isRunning = false;              // doing any audio IO
    bool isRunningInput = false;
    bool isRunningOutput = false;
    friend bool operator==(const AudioProcessInfo&, const AudioProcessInfo&) = default;
};

// One application (or lone process) that plays, as the user sees it.
struct AudioSource {
    AudioObjectID objectID = 0; // of the lowest-pid member when the source was created; kept
    pid_type pid = 0;           // the owning application's main pid when known, else lowest member
    std::optional<std::string> bundleID;
    std::string name;                  // fetched once, when the source is created
    std::optional<IconReference> icon; // likewise
    std::vector<pid_type> memberPIDs;  // every member playing now, ascending

    // The icon takes no part: two polls that see the same application are the same source.
    friend bool operator==(const AudioSource& a, const AudioSource& b) {
        return a.objectID == b.objectID && a.pid == b.pid && a.bundleID == b.bundleID &&
               a.name == b.name && a.memberPIDs == b.memberPIDs;
    }
};

struct AudioSourceEvent {
    enum class Kind { started, stopped };
    Kind kind = Kind::started;
    AudioSource source;

    static AudioSourceEvent started(AudioSource source) {
        return {Kind::started, std::move(source)};
    }
    static AudioSourceEvent stopped(AudioSource source) {
        return {Kind::stopped, std::move(source)};
    }
    friend bool operator==(const AudioSourceEvent&, const AudioSourceEvent&) = default;
};

struct AppInfo {
    std::string name;
    std::optional<IconReference> icon;
    friend bool operator==(const AppInfo&, const AppInfo&) = default;
};

// The application a process belongs to.
struct ProcessGroup {
    std::string bundleID;            // the owning application's id, as reported
    std::optional<pid_type> mainPID; // the application's own process, when known
    friend bool operator==(const ProcessGroup&, const ProcessGroup&) = default;
};

} // namespace brindell
