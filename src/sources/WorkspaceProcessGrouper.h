#pragma once

#include "sources/ProcessGrouper.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindell {

class Workspace;

// One running application: on Linux, a process with a desktop application id whose parent
// does not belong to the same application.
struct RunningAppRef {
    pid_type pid = 0;
    std::string bundleID;                  // the application id
    std::optional<std::string> bundlePath; // its install folder, when it has one of its own
    friend bool operator==(const RunningAppRef&, const RunningAppRef&) = default;
};

// Maps a playing process to the application that owns it, from the running applications, the
// process's parent chain, its executable path and its bundle id. The platform lookups are
// injected; the running-application list is fetched once per call.
//
// Threading: called on the source monitor's queue; thread-safe as far as the callbacks are.
class WorkspaceProcessGrouper final : public ProcessGrouper {
public:
    using RunningApps = std::function<std::vector<RunningAppRef>()>;
    using ParentPID = std::function<std::optional<pid_type>(pid_type)>;
    using ExecutablePath = std::function<std::optional<std::string>(pid_type)>;

    WorkspaceProcessGrouper(RunningApps runningApps, ParentPID parentPID,
                            ExecutablePath executablePath);

    // The grouper over a workspace's lookups; it keeps the workspace alive.
    static std::shared_ptr<WorkspaceProcessGrouper> overWorkspace(std::shared_ptr<Workspace> ws);

    std::optional<ProcessGroup> group(pid_type pid,
                                      const std::optional<std::string>& bundleID) override;

    // The id's components before the first "helper" (any letter case) at index 3 or later,
    // joined with "."; none when there is no such component.
    static std::optional<std::string> bundleStem(const std::string& bundleID);

    // The pid's ancestors, nearest first: at most 5, stopping at the system's root processes
    // (pids below 2), an unknown parent or a loop.
    std::vector<pid_type> parentChain(pid_type pid) const;

private:
    RunningApps runningApps_;
    ParentPID parentPID_;
    ExecutablePath executablePath_;
};

} // namespace brindell
