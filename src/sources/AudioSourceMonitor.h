#pragma once

#include "queue/SerialQueue.h"
#include "sources/AppInfoProvider.h"
#include "sources/AudioProcessSource.h"
#include "sources/ProcessGrouper.h"

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace brindell {

// Turns the flat list of audio process objects into the sources the user sees: one per
// application that plays now, helpers folded in, named once when it appears. Polls on a fixed
// interval and whenever the process source reports a change, and reports what started, what
// stopped, and the whole sorted list when anything changed.
//
// Threading: start, stop and poll run on the monitor's queue (start may also be called before
// that queue has run anything for the monitor). onEvent and onChange are called there. The
// timer and the process source's callback hold the monitor weakly, so a released monitor stops
// polling by itself.
class AudioSourceMonitor : public std::enable_shared_from_this<AudioSourceMonitor> {
    struct Token {
        explicit Token() = default;
    };

public:
    using EventCallback = std::function<void(const AudioSourceEvent&)>;
    using ChangeCallback = std::function<void(const std::vector<AudioSource>&)>;

    // ownPID is never listed; neither is any bundle id in ignoredBundleIDs (exact match).
    static std::shared_ptr<AudioSourceMonitor> create(std::shared_ptr<AudioProcessSource> source,
                                                      std::shared_ptr<AppInfoProvider> appInfo,
                                                      pid_type ownPID,
                                                      std::shared_ptr<ProcessGrouper> grouper,
                                                      std::set<std::string> ignoredBundleIDs = {});

    AudioSourceMonitor(Token, std::shared_ptr<AudioProcessSource> source,
                       std::shared_ptr<AppInfoProvider> appInfo, pid_type ownPID,
                       std::shared_ptr<ProcessGrouper> grouper,
                       std::set<std::string> ignoredBundleIDs);
    ~AudioSourceMonitor();
    AudioSourceMonitor(const AudioSourceMonitor&) = delete;
    AudioSourceMonitor& operator=(const AudioSourceMonitor&) = delete;

    // Set by the owner before start. They must not call poll.
    void setOnEvent(EventCallback callback);
    void setOnChange(ChangeCallback callback);

    // Polls at once on queue, then every interval seconds, and once more for every change the
    // process source reports (no coalescing). Restarts when already started.
    void start(std::shared_ptr<SerialQueue> queue, Seconds interval);
    // Stops the timer and the source's notifications. The active sources are kept, and the
    // next start compares against them; no events are reported.
    void stop();
    // One complete refresh.
    void poll();

    // The sources of the last poll, by grouping key.
    const std::map<std::string, AudioSource>& active() const { return active_; }

    // "app:" + the lower-cased application id, or "process:" + the process object id.
    static std::string appKey(const std::string& bundleID);
    static std::string processKey(AudioObjectID objectID);

private:
    const std::shared_ptr<AudioProcessSource> source_;
    const std::shared_ptr<AppInfoProvider> appInfo_;
    const pid_type ownPID_;
    const std::shared_ptr<ProcessGrouper> grouper_;
    const std::set<std::string> ignoredBundleIDs_;
    std::map<std::string, AudioSource> active_;
    std::shared_ptr<RepeatingTimer> timer_;
    EventCallback onEvent_ = [](const AudioSourceEvent&) {};
    ChangeCallback onChange_ = [](const std::vector<AudioSource>&) {};
};

} // namespace brindell
