#pragma once

#include "queue/Clock.h"
#include "sources/AudioSourceRecords.h"

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace brindell {

// One row of the visible list.
struct VisibleSource {
    AudioSource source;
    bool isActive = true;
    // When an inactive source leaves the list; none while it plays.
    std::optional<Seconds> expiresAt;

    // Source equality leaves the icon out, so an icon change alone publishes nothing.
    friend bool operator==(const VisibleSource&, const VisibleSource&) = default;
};

// Which sources the mixer lists, and in which order: every playing source, plus a stopped one
// for coolDown seconds after it stopped, alphabetical by lower-cased name. While the user drags
// a row's control the list neither expires nor reorders, so the row stays under the pointer.
//
// Threading: confined to the mixer engine's queue; every call comes from there, and onChange
// is called there, synchronously. No locks.
class SourceVisibilityModel {
public:
    using Clock = std::function<Seconds()>;
    using ChangeCallback = std::function<void(const std::vector<VisibleSource>&)>;

    struct Entry {
        AudioSource source;
        bool isActive = true;
        std::optional<Seconds> inactiveSince;
    };

    // coolDown is cleaned: NaN as 5, then limited to 0...60 seconds.
    SourceVisibilityModel(Clock now, Seconds coolDown);

    // Receives every list that differs from the one published before.
    void setOnChange(ChangeCallback callback);

    // The monitor's current sources: new ones are added, known ones refreshed and marked
    // playing, missing ones marked stopped (from now). Then prunes.
    void update(const std::vector<AudioSource>& sources);
    // Removes stopped sources whose cool-down is over, sorts, and publishes a changed list;
    // while interacting only publishes.
    void prune();

    // A value freezes the list (only stored); none unfreezes it and prunes at once.
    void setInteracting(std::optional<pid_type> pid);
    const std::optional<pid_type>& interacting() const { return interacting_; }

    // The list as it stands, in display order.
    std::vector<VisibleSource> visibleSources() const;

    Seconds coolDown() const { return coolDown_; }
    const std::map<pid_type, Entry>& entries() const { return entries_; }

private:
    void sortOrder();

    Clock now_;
    Seconds coolDown_;
    std::map<pid_type, Entry> entries_;
    std::vector<pid_type> order_;
    std::optional<pid_type> interacting_;
    std::vector<VisibleSource> lastPublished_;
    ChangeCallback onChange_ = [](const std::vector<VisibleSource>&) {};
};

} // namespace brindell
