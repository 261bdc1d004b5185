#include "sources/WorkspaceProcessGrouper.h"

#include "sources/TextCase.h"
#include "sources/Workspace.h"

#include <algorithm>

namespace brindell {
namespace {

constexpr int maxAncestors = 5;
constexpr std::size_t firstHelperIndex = 3;

std::vector<std::string> splitKeepingEmpty(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        if (end == std::string::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

bool contains(const std::vector<pid_type>& pids, pid_type pid) {
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

} // namespace

WorkspaceProcessGrouper::WorkspaceProcessGrouper(RunningApps runningApps, ParentPID parentPID,
                                                 ExecutablePath executablePath)
    : runningApps_(std::move(runningApps)), parentPID_(std::move(parentPID)),
      executablePath_(std::move(executablePath)) {}

std::shared_ptr<WorkspaceProcessGrouper>
WorkspaceProcessGrouper::overWorkspace(std::shared_ptr<Workspace> ws) {
    return std::make_shared<WorkspaceProcessGrouper>(
        [ws] { return ws->runningApps(); }, [ws](pid_type pid) { return ws->parentPID(pid); },
        [ws](pid_type pid) { return ws->executablePath(pid); });
}

std::optional<std::string> WorkspaceProcessGrouper::bundleStem(const std::string& bundleID) {
    const std::vector<std::string> parts = splitKeepingEmpty(bundleID, '.');
    for (std::size_t i = firstHelperIndex; i < parts.size(); ++i) {
        if (equalsIgnoringCase(parts[i], "helper")) {
            std::string stem = parts[0];
            for (std::size_t k = 1; k < i; ++k) {
                stem += '.';
                stem += parts[k];
            }
            return stem;
        }
    }
    return std::nullopt;
}

std::vector<pid_type> WorkspaceProcessGrouper::parentChain(pid_type pid) const {
    std::vector<pid_type> chain;
    pid_type current = pid;
    for (int step = 0; step < maxAncestors; ++step) {
        const std::optional<pid_type> parent = parentPID_(current);
        if (!parent || *parent < 2 || contains(chain, *parent)) {
            break;
        }
        chain.push_back(*parent);
        current = *parent;
    }
    return chain;
}

std::optional<ProcessGroup>
WorkspaceProcessGrouper::group(pid_type pid, const std::optional<std::string>& bundleID) {
    const std::vector<RunningAppRef> apps = runningApps_();

    // The process is an application itself.
    for (const RunningAppRef& app : apps) {
        if (app.pid == pid) {
            return ProcessGroup{app.bundleID, pid};
        }
    }

    const std::vector<pid_type> chain = parentChain(pid);

    // A helper named after its application: prefer the instance that launched it.
    if (bundleID) {
        if (const std::optional<std::string> stem = bundleStem(*bundleID)) {
            std::vector<const RunningAppRef*> candidates;
            for (const RunningAppRef& app : apps) {
                if (equalsIgnoringCase(app.bundleID, *stem)) {
                    candidates.push_back(&app);
                }
            }
            for (const RunningAppRef* app : candidates) {
                if (contains(chain, app->pid)) {
                    return ProcessGroup{app->bundleID, app->pid};
                }
            }
            if (!candidates.empty()) {
                const RunningAppRef* lowest =
                    *std::min_element(candidates.begin(), candidates.end(),
                                      [](const auto* a, const auto* b) { return a->pid < b->pid; });
                return ProcessGroup{lowest->bundleID, lowest->pid};
            }
            return ProcessGroup{*stem, std::nullopt};
        }
    }

    // A helper program installed inside the application that launched it.
    if (const std::optional<std::string> path = executablePath_(pid)) {
        for (const pid_type ancestor : chain) {
            const auto app = std::find_if(apps.begin(), apps.end(),
                                          [&](const auto& a) { return a.pid == ancestor; });
            if (app != apps.end() && app->bundlePath && path->starts_with(*app->bundlePath + "/")) {
                return ProcessGroup{app->bundleID, app->pid};
            }
        }
    }

    // Web content processes are launched by a system service, not by the browser.
    if (bundleID && bundleID->starts_with("com.apple.WebKit.")) {
        for (const RunningAppRef& app : apps) {
            if (app.bundleID == "com.apple.Safari") {
                return ProcessGroup{app.bundleID, app.pid};
            }
        }
    }
    return std::nullopt;
}

} // namespace brindell
