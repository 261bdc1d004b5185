#pragma once

#include "audio/AudioHardwareError.h"
#include "audio/AudioRecords.h"
#include "permission/PermissionState.h"
#include "queue/Clock.h"
#include "tapengine/TapSessionManager.h"

#include <cstdint>
#include <map>
#include <set>
#include <vector>

namespace brindell {

// Infers whether the audio system lets Brindell capture other applications' sound. Non-silent
// audio (or a confirming rebuild, which only happens after one) proves capture works. Where the
// audio system refuses silently, silence from every tapped application for silenceThreshold
// seconds, while the source monitor says they all play, makes the refusal likely. Where it
// refuses with an error instead (PipeWire answers a refused link, node or metadata entry with
// a permission status), a failure with one of refusalStatuses is the verdict, and silence is no
// evidence: pass an infinite threshold, since apps play silence, pause inside their stream or
// are muted elsewhere while their streams keep running.
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

    explicit PermissionMonitor(Seconds silenceThreshold,
                               std::set<std::int32_t> refusalStatuses = {});

    // One look at the sessions: snapshots from the session manager, the member pids of the
    // active visible sources, the manager's confirmation count and the current time.
    void observe(const std::vector<SessionSnapshot>& snapshots, const std::set<pid_type>& active,
                 std::int64_t confirmations, Seconds now);

    // A failed hardware operation: one refused with a status of refusalStatuses makes the
    // state likelyDenied (true then); any other failure says nothing about capture.
    bool noteFailure(const AudioHardwareError& error);

    // Back to no evidence: state unknown, progress empty. lastConfirmations is kept, so a
    // confirmation counted before does not count again.
    void forgetVerdict();

    Seconds silenceThreshold() const { return silenceThreshold_; }
    const std::set<std::int32_t>& refusalStatuses() const { return refusalStatuses_; }
    PermissionState state() const { return state_; }
    std::int64_t lastConfirmations() const { return lastConfirmations_; }
    const std::map<pid_type, Progress>& progress() const { return progress_; }

    friend bool operator==(const PermissionMonitor&, const PermissionMonitor&) = default;

private:
    Seconds silenceThreshold_;
    std::set<std::int32_t> refusalStatuses_;
    PermissionState state_ = PermissionState::unknown;
    std::int64_t lastConfirmations_ = 0;
    std::map<pid_type, Progress> progress_;
};

} // namespace brindell
