#pragma once

#include "sources/AudioSourceRecords.h"
#include "sources/WorkspaceProcessGrouper.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindell {

// What the platform says about a running application itself.
struct RunningAppDetails {
    std::optional<std::string> localizedName;
    std::optional<IconReference> icon;
    friend bool operator==(const RunningAppDetails&, const RunningAppDetails&) = default;
};

// The names an installed application gives itself: its display name (localized when the
// user's language has one) and its plain name. Either may be missing.
struct BundleNames {
    std::optional<std::string> displayName;
    std::optional<std::string> name;
    friend bool operator==(const BundleNames&, const BundleNames&) = default;
};

// Keeps a wake observer registered; destroying it removes the observer.
class WakeObservation {
public:
    virtual ~WakeObservation() = default;
};

// The desktop's services around processes and installed applications: running applications,
// parent pids and executable paths, names and icons of installed applications, the wake from
// sleep, and the sound settings. On Linux an installed application ("bundle") is a desktop
// entry, named by its file path.
//
// Threading: every lookup may be called from any thread (implementations lock what they
// cache). Wake observers are called on a thread of the implementation's choosing and must only
// hand work on to their own queue.
class Workspace {
public:
    virtual ~Workspace() = default;

    // --- processes ------------------------------------------------------------------------
    // Running applications, in ascending pid order.
    virtual std::vector<RunningAppRef> runningApps() = 0;
    virtual std::optional<pid_type> parentPID(pid_type pid) = 0;
    virtual std::optional<std::string> executablePath(pid_type pid) = 0;
    // The name the process gives itself: the audio server's application name for it, else the
    // name it was started as (argv[0]'s base name, not a symlink's target). None when unknown.
    virtual std::optional<std::string> givenName(pid_type pid) = 0;

    // --- installed applications -----------------------------------------------------------
    // The running application with exactly this pid; none when the pid is not one.
    virtual std::optional<RunningAppDetails> runningApplication(pid_type pid) = 0;
    // The installed application with this id, or none.
    virtual std::optional<std::string> applicationBundle(const std::string& bundleID) = 0;
    // The installed application the executable is part of, or none.
    virtual std::optional<std::string> bundleContaining(const std::string& executablePath) = 0;
    // None when the application cannot be read.
    virtual std::optional<BundleNames> bundleNames(const std::string& bundlePath) = 0;
    // The name a file manager shows for the application, without its file extension.
    virtual std::string bundleDisplayName(const std::string& bundlePath) = 0;
    // The icon of an installed application; never none.
    virtual IconReference fileIcon(const std::string& bundlePath) = 0;
    // The icon of a program that belongs to no installed application.
    virtual IconReference executableIcon() = 0;

    // --- notifications and settings -------------------------------------------------------
    // callback runs once after each wake from sleep, until the observation is destroyed.
    virtual std::unique_ptr<WakeObservation> observeWake(std::function<void()> callback) = 0;
    // Opens the desktop's sound settings. False when no settings program could be started.
    virtual bool openSoundSettings() = 0;
};

} // namespace brindell
