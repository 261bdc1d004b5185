#pragma once

#include "audio/AudioRecords.h"
#include "permission/PermissionState.h"
#include "queue/Clock.h"
#include "tapengine/TapSessionManager.h"

#include <cstdint>
#include <map>
#include <set>
#include <vector>

namespace brindell {

// Infers whether the audio system lets Brindell capture other applications' sound. A refusal
// is never reported as an error: the taps run and deliver silence. So non-silent audio (or a
// confirming rebuild, which only happens after one) proves capture works, and silence from
// every tapped application for silenceThreshold seconds, while the source monitor says they
// all play, makes the refusal likely.
//
// Threading: a plain value, owned by the mixer engine and touched only on its queue.
class PermissionMonitor {
public:
    // Per tapped process: the last non-silent buffer count seen, and when it last grew (or was
    // first seen, or restarted with a rebuilt session).
    struct Progress {
        std::int64_t nonzero = 0;
        Seconds since = 0;
        friend bool operator==(const Progress&, const Progress&) = default;
    };

    explicit PermissionMonitor(Seconds silenceThreshold);

    // One look at the sessions: snapshots from the session manager, the member pids of the
    // active visible sources, the manager's confirmation count and the current time.
    void observe(const std::vector<SessionSnapshot>& snapshots, const std::set<pid_type>& active,
                 std::int64_t confirmations, Seconds now);

    // Back to no evidence: state unknown, progress empty. lastConfirmations is kept, so a
    // confirmation counted before does not count again.
    void forgetVerdict();

    Seconds silenceThreshold() const { return silenceThreshold_; }
    PermissionState state() const { return state_; }
    std::int64_t lastConfirmations() const { return lastConfirmations_; }
    const std::map<pid_type, Progress>& progress() const { return progress_; }

    friend bool operator==(const PermissionMonitor&, const PermissionMonitor&) = default;

private:
    Seconds silenceThreshold_;
    PermissionState state_ = PermissionState::unknown;
    std::int64_t lastConfirmations_ = 0;
    std::map<pid_type, Progress> progress_;
};

} // namespace brindell
