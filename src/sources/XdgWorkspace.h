#pragma once

#include "queue/Clock.h"
#include "sources/DesktopEntryIndex.h"
#include "sources/ProcFileSystem.h"
#include "sources/RunningApplications.h"
#include "sources/WakeObservers.h"
#include "sources/Workspace.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace brindell {

// The workspace of a Linux desktop over /proc and the XDG desktop entries: running
// applications, parent pids and executable paths, names and icons of installed applications.
// An installed application ("bundle") is a desktop entry, named by its file path. The wake
// from sleep and the start of a program come from outside (LinuxWorkspace wires them to
// logind and the Qt process launcher); without them there is no wake and no sound settings.
//
// Threading: every lookup may be called from any thread. notifyWake may be called from any
// thread and calls the observers on it.
class XdgWorkspace final : public Workspace {
public:
    // Starts a program detached (argv[0] an absolute path); true when it started.
    using Launcher = std::function<bool(const std::vector<std::string>& command)>;
    using Environment = std::function<std::optional<std::string>(const std::string& name)>;

    struct Options {
        std::string procRoot = "/proc";
        std::vector<std::string> dataDirs;   // highest precedence first
        std::vector<std::string> searchPath; // where programs named without a path are found
        Locale locale;
        Seconds scanInterval = 1.0;         // the process table is scanned at most this often
        Seconds entryRecheckInterval = 1.0; // desktop entry folders are checked this often

        // Data dirs: XDG_DATA_HOME (else ~/.local/share), XDG_DATA_DIRS (else
        // /usr/local/share:/usr/share), then Flatpak's exports and Snap's desktop entries when
        // missing. Search path: PATH. Locale: LC_ALL, LC_MESSAGES or LANG, the first set.
        static Options fromEnvironment(const Environment& environment);
        static Options fromEnvironment(); // the process's own environment
    };

    explicit XdgWorkspace(Options options, Launcher launcher = nullptr,
                          const Clock& clock = SteadyClock::shared());

    const Options& options() const { return options_; }

    // Called by the platform glue after each wake from sleep.
    void notifyWake();
    // The audio server's application id for a process (see RunningApplications).
    void reportApplicationID(pid_type pid, std::string applicationID);
    // The audio server's application name for a process (a stream's or client's
    // application.name); given names prefer it over argv[0].
    void reportApplicationName(pid_type pid, std::string name);
    // The application a process belongs to, helpers and children included.
    std::optional<std::string> applicationID(pid_type pid);
    // Where icon themes and loose icons live: <data dir>/icons, and /usr/share/pixmaps.
    std::vector<std::string> iconFolders() const;

    // Icon= of a desktop entry: an absolute path is a file, anything else a theme name
    // (an image extension some entries wrongly give is dropped). None for an empty or
    // relative path.
    static std::optional<IconReference> iconReference(const std::string& icon);

    // --- Workspace ------------------------------------------------------------------------
    std::vector<RunningAppRef> runningApps() override;
    std::optional<pid_type> parentPID(pid_type pid) override;
    std::optional<std::string> executablePath(pid_type pid) override;
    std::optional<std::string> givenName(pid_type pid) override;
    std::optional<RunningAppDetails> runningApplication(pid_type pid) override;
    std::optional<std::string> applicationBundle(const std::string& bundleID) override;
    std::optional<std::string> bundleContaining(const std::string& executablePath) override;
    std::optional<BundleNames> bundleNames(const std::string& bundlePath) override;
    std::string bundleDisplayName(const std::string& bundlePath) override;
    IconReference fileIcon(const std::string& bundlePath) override;
    IconReference executableIcon() override;
    std::unique_ptr<WakeObservation> observeWake(std::function<void()> callback) override;
    bool openSoundSettings() override;

private:
    const Options options_;
    const Launcher launcher_;
    const std::shared_ptr<const ProcFileSystem> proc_;
    const std::shared_ptr<DesktopEntryIndex> index_;
    RunningApplications running_;
    WakeObservers wake_;
    // Reported application names by pid, with the start time of the process they were reported
    // for (0 for an identity that is no host pid).
    std::mutex namesMutex_;
    std::map<pid_type, std::pair<std::uint64_t, std::string>> names_;
};

} // namespace brindell
