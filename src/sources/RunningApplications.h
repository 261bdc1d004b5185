#pragma once

#include "queue/Clock.h"
#include "sources/DesktopEntryIndex.h"
#include "sources/ProcFileSystem.h"
#include "sources/WorkspaceProcessGrouper.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace brindell {

// Which processes are running desktop applications. A process belongs to an application when
// it runs in a Flatpak sandbox, in a Snap, in the systemd unit the desktop started the
// application in, when the audio server reported the application's id for it, or when its
// executable is the program of an installed application (tried in that order). It is the
// application's main process when its parent (past sandbox launchers) does not belong to the
// same application.
//
// The process table is scanned at most once per maxAge; what each process is, is remembered
// while the process (pid and start time) lives.
//
// Threading: every operation may be called from any thread; they are serialised.
class RunningApplications {
public:
    RunningApplications(std::shared_ptr<const ProcFileSystem> proc,
                        std::shared_ptr<DesktopEntryIndex> index,
                        std::vector<std::string> searchPath, const Clock& clock,
                        Seconds maxAge = 1.0);

    // Main processes of running applications, ascending by pid. bundleID is the application id,
    // bundlePath the folder of the main executable when it is one of its own.
    std::vector<RunningAppRef> list();
    std::optional<RunningAppRef> find(pid_type pid);

    // The id of the application the process belongs to, main process or not.
    std::optional<std::string> applicationID(pid_type pid);

    // The audio server's word on a process's application (its stream's application id). Kept
    // while that process lives; the sandbox and the desktop's unit take precedence.
    void reportApplicationID(pid_type pid, std::string applicationID);

private:
    struct Identity {
        std::uint64_t startTime = 0;
        pid_type parentPID = 0;
        std::optional<std::string> executablePath;
        std::optional<std::string> applicationID;
    };

    void refresh(); // expects mutex_ held
    Identity identify(pid_type pid, const ProcFileSystem::Stat& stat) const;
    std::optional<std::string> reportedID(pid_type pid, std::uint64_t startTime) const;
    bool isMain(pid_type pid, const Identity& identity) const;

    const std::shared_ptr<const ProcFileSystem> proc_;
    const std::shared_ptr<DesktopEntryIndex> index_;
    const std::vector<std::string> searchPath_;
    const Clock& clock_;
    const Seconds maxAge_;
    std::mutex mutex_;
    std::optional<Seconds> scannedAt_;
    std::map<pid_type, Identity> identities_;
    std::vector<RunningAppRef> apps_;
    std::map<pid_type, std::pair<std::uint64_t, std::string>> reported_;
};

} // namespace brindell
