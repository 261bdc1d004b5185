#pragma once

#include "audio/AudioRecords.h"
#include "output/OutputState.h"
#include "permission/PermissionState.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brindell {

// What the engine can do for one row.
class MixerRowStatus {
public:
    enum class Kind {
        ok,               // the app's audio passes through its own gain stage
        starting,         // a tap session is being set up, or nothing has been tried yet
        waitingForDevice, // the chosen output is gone; the app plays on the default until it
                          // returns
        drmRestricted,    // the audio system refuses to tap this app (protected content)
        needsPermission,  // capture is most likely not permitted
        captureFailed,    // setting up or running the tap failed; message() says why
    };

    static MixerRowStatus ok() { return MixerRowStatus(Kind::ok); }
    static MixerRowStatus starting() { return MixerRowStatus(Kind::starting); }
    static MixerRowStatus waitingForDevice() { return MixerRowStatus(Kind::waitingForDevice); }
    static MixerRowStatus drmRestricted() { return MixerRowStatus(Kind::drmRestricted); }
    static MixerRowStatus needsPermission() { return MixerRowStatus(Kind::needsPermission); }
    static MixerRowStatus captureFailed(std::string message) {
        return MixerRowStatus(Kind::captureFailed, std::move(message));
    }

    MixerRowStatus() = default; // ok

    Kind kind() const { return kind_; }
    // The failure message of captureFailed; empty for every other case.
    const std::string& message() const { return message_; }

    // The case name, and for captureFailed its message in quotes: captureFailed("why").
    // Different for every case and every message.
    std::string text() const;

    friend bool operator==(const MixerRowStatus&, const MixerRowStatus&) = default;

private:
    explicit MixerRowStatus(Kind kind, std::string message = {})
        : kind_(kind), message_(std::move(message)) {}

    Kind kind_ = Kind::ok;
    std::string message_;
};

// How a row shows its status: a symbol identifier (drawn from the icon theme by the interface
// layer), a sentence, and whether it is a warning (drawn in the warning colour).
struct StatusPresentation {
    std::string symbol;
    std::string sentence;
    bool warning = false;
    friend bool operator==(const StatusPresentation&, const StatusPresentation&) = default;
};

// None when the row shows no status line (ok, or starting while not playing).
std::optional<StatusPresentation> presentation(const MixerRowStatus& status, bool isActive);

// One application row, identified by the pid of its source.
struct MixerRow {
    pid_type pid = 0;
    std::optional<std::string> bundleID;
    std::string name;
    // A theme icon name, or an absolute file path; none shows the placeholder.
    std::optional<std::string> icon;
    float volume = 1.0f; // 0 to 1
    bool isMuted = false;
    bool isActive = true; // playing now; false while a stopped app stays listed
    // none: the system default output; a device the user chose here or routed the app to elsewhere
    std::optional<std::string> outputUID;
    MixerRowStatus status;
    // Every process of the row playing now (instances and helpers), ascending; each names the
    // row, as pid does.
    std::vector<pid_type> memberPIDs;

    // The icon takes no part: a new icon alone is not a change of the row.
    friend bool operator==(const MixerRow& a, const MixerRow& b) {
        return a.pid == b.pid && a.bundleID == b.bundleID && a.name == b.name &&
               a.volume == b.volume && a.isMuted == b.isMuted && a.isActive == b.isActive &&
               a.outputUID == b.outputUID && a.status == b.status && a.memberPIDs == b.memberPIDs;
    }
    bool names(pid_type other) const {
        return other == pid ||
               std::find(memberPIDs.begin(), memberPIDs.end(), other) != memberPIDs.end();
    }
};

// An output device a row may be sent to; its uid is its identity.
struct OutputChoice {
    std::string uid;
    std::string name;
    DeviceTransport transport = DeviceTransport::other;
    friend bool operator==(const OutputChoice&, const OutputChoice&) = default;
};

// Everything the panel shows.
struct MixerSnapshot {
    std::optional<OutputState> master; // none when no default output is known
    std::vector<MixerRow> rows;        // in display order
    std::vector<OutputChoice> outputs; // in display order
    std::optional<std::string> defaultOutputName;
    PermissionState permission = PermissionState::unknown;
    // False while the audio server cannot be reached: the rest shows nothing of the system then.
    bool serverReachable = true;
    friend bool operator==(const MixerSnapshot&, const MixerSnapshot&) = default;
};

// The live level of each row whose app is adjusted (status ok), by row pid: the loudest of its
// members' last peaks after their own gain and mute, 0 to 1. A row without an entry has no
// level to show.
using MixerLevels = std::map<pid_type, float>;

} // namespace brindell
