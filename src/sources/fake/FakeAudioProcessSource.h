#pragma once

#include "queue/SerialQueue.h"
#include "sources/AudioProcessSource.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace brindell {

// A scriptable AudioProcessSource: processes that appear, play, stop and exit, a failure
// switch, and onChange fired on a listener queue of the test's choosing after every scripted
// change (as the platform's listeners would). Thread-safe.
class FakeAudioProcessSource final : public AudioProcessSource {
public:
    // listenerQueue: where onChange is called; none calls it on the thread that made the change.
    explicit FakeAudioProcessSource(std::shared_ptr<SerialQueue> listenerQueue = nullptr);

    // --- scripting ------------------------------------------------------------------------
    // A process that plays output (or only `output=false`: is listed without playing). A pid
    // seen before keeps its object id and gets the new bundle id and flags.
    AudioObjectID play(pid_type pid, std::optional<std::string> bundleID = std::nullopt,
                       bool output = true);
    void setRunning(pid_type pid, bool output, bool input = false);
    void remove(pid_type pid); // the process exited
    // Replaces the whole list, in the given order.
    void setProcesses(std::vector<AudioProcessInfo> processes);
    // Whether scripted changes fire onChange (off: only the poll timer notices them).
    void setNotifies(bool notifies);

    // processes() fails with status("ProcessObjectList", code), `times` times or, with -1, until
    // cleared.
    void fail(std::int32_t code = -5, int times = -1);

    // --- inspection -----------------------------------------------------------------------
    std::size_t listCount() const; // calls of processes()
    bool hasOnChange() const;

    // --- AudioProcessSource ---------------------------------------------------------------
    std::vector<AudioProcessInfo> processes() override;
    void setOnChange(ChangeCallback callback) override;

private:
    void changed(std::unique_lock<std::mutex>& lock);

    const std::shared_ptr<SerialQueue> listenerQueue_;
    mutable std::mutex mutex_;
    ChangeCallback onChange_;
    std::vector<AudioProcessInfo> processes_;
    AudioObjectID nextObjectID_ = 200;
    bool notifies_ = true;
    std::optional<std::int32_t> failureCode_;
    int failuresLeft_ = 0;
    std::size_t listCount_ = 0;
};

} // namespace brindell
