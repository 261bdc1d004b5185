#include "permission/PermissionMonitor.h"

#include <algorithm>

namespace brindell {

PermissionMonitor::PermissionMonitor(Seconds silenceThreshold,
                                     std::set<std::int32_t> refusalStatuses)
    : silenceThreshold_(silenceThreshold), refusalStatuses_(std::move(refusalStatuses)) {}

bool PermissionMonitor::noteFailure(const AudioHardwareError& error) {
    if (error.kind() != AudioHardwareError::Kind::status ||
        !refusalStatuses_.contains(error.code())) {
        return false;
    }
    state_ = PermissionState::likelyDenied;
    return true;
}

void PermissionMonitor::forgetVerdict() {
    state_ = PermissionState::unknown;
    progress_.clear();
}

void PermissionMonitor::observe(const std::vector<SessionSnapshot>& snapshots,
                                const std::set<pid_type>& active, std::int64_t confirmations,
                                Seconds now) {
    std::erase_if(progress_, [&](const auto& entry) {
        return std::none_of(snapshots.begin(), snapshots.end(),
                            [&](const SessionSnapshot& s) { return s.pid == entry.first; });
    });

    const bool confirmed = confirmations > lastConfirmations_;
    lastConfirmations_ = confirmations;

    bool evidence = false;
    for (const SessionSnapshot& snapshot : snapshots) {
        if (snapshot.buffersSeen == 0) {
            continue; // no IO yet: neither proof nor silence
        }
        const auto found = progress_.find(snapshot.pid);
        if (found == progress_.end() || snapshot.nonzeroBuffers < found->second.nonzero) {
            // First sight, or a rebuilt session whose counters restarted: its silence is timed
            // from now.
            progress_[snapshot.pid] = Progress{snapshot.nonzeroBuffers, now};
            evidence = evidence || snapshot.nonzeroBuffers > 0;
        } else if (snapshot.nonzeroBuffers > found->second.nonzero) {
            found->second = Progress{snapshot.nonzeroBuffers, now};
            evidence = true;
        }
    }

    if (confirmed || evidence) {
        state_ = PermissionState::granted;
        return;
    }

    // Silence counts only when it is complete: every session has run, every tapped process is
    // said to be playing, and each has been silent for the whole threshold.
    if (snapshots.empty() || active.empty()) {
        return;
    }
    for (const SessionSnapshot& snapshot : snapshots) {
        if (snapshot.buffersSeen < 1 || !active.contains(snapshot.pid)) {
            return;
        }
        const auto found = progress_.find(snapshot.pid);
        if (found == progress_.end() || now - found->second.since < silenceThreshold_) {
            return;
        }
    }
    state_ = PermissionState::likelyDenied;
}

} // namespace brindell
