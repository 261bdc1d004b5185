#include "sources/RunningApplications.h"

#include "sources/ApplicationIds.h"

#include <algorithm>

namespace brindell {
namespace {

constexpr int maxLauncherHops = 4;

} // namespace

RunningApplications::RunningApplications(std::shared_ptr<const ProcFileSystem> proc,
                                         std::shared_ptr<DesktopEntryIndex> index,
                                         std::vector<std::string> searchPath, const Clock& clock,
                                         Seconds maxAge)
    : proc_(std::move(proc)), index_(std::move(index)), searchPath_(std::move(searchPath)),
      clock_(clock), maxAge_(maxAge) {}

std::vector<RunningAppRef> RunningApplications::list() {
    const std::lock_guard lock(mutex_);
    refresh();
    return apps_;
}

std::optional<RunningAppRef> RunningApplications::find(pid_type pid) {
    const std::lock_guard lock(mutex_);
    refresh();
    const auto found = std::find_if(apps_.begin(), apps_.end(),
                                    [&](const RunningAppRef& app) { return app.pid == pid; });
    return found == apps_.end() ? std::nullopt : std::optional(*found);
}

std::optional<std::string> RunningApplications::applicationID(pid_type pid) {
    const std::lock_guard lock(mutex_);
    const auto stat = proc_->stat(pid);
    if (!stat) {
        return std::nullopt;
    }
    const auto known = identities_.find(pid);
    if (known != identities_.end() && known->second.startTime == stat->startTime) {
        return known->second.applicationID;
    }
    return identify(pid, *stat).applicationID;
}

void RunningApplications::reportApplicationID(pid_type pid, std::string applicationID) {
    const auto stat = proc_->stat(pid);
    if (!stat || applicationID.empty()) {
        return;
    }
    const std::lock_guard lock(mutex_);
    auto& slot = reported_[pid];
    if (slot.first == stat->startTime && slot.second == applicationID) {
        return;
    }
    slot = {stat->startTime, std::move(applicationID)};
    scannedAt_.reset(); // the next lookup sees it
    const auto known = identities_.find(pid);
    if (known != identities_.end()) {
        identities_.erase(known);
    }
}

std::optional<std::string> RunningApplications::reportedID(pid_type pid,
                                                           std::uint64_t startTime) const {
    const auto found = reported_.find(pid);
    if (found == reported_.end() || found->second.first != startTime) {
        return std::nullopt;
    }
    return found->second.second;
}

RunningApplications::Identity
RunningApplications::identify(pid_type pid, const ProcFileSystem::Stat& stat) const {
    Identity identity;
    identity.startTime = stat.startTime;
    identity.parentPID = stat.parentPID;
    identity.executablePath = proc_->executablePath(pid);
    if (const auto info = proc_->flatpakInfo(pid)) {
        identity.applicationID = flatpakApplicationID(*info);
    }
    if (!identity.applicationID) {
        if (const auto cgroup = proc_->cgroup(pid)) {
            identity.applicationID = cgroupApplicationID(*cgroup);
        }
    }
    if (!identity.applicationID) {
        identity.applicationID = reportedID(pid, stat.startTime);
    }
    if (!identity.applicationID && identity.executablePath) {
        if (const auto entry = index_->entryForExecutable(*identity.executablePath)) {
            identity.applicationID = entry->id;
        }
    }
    return identity;
}

bool RunningApplications::isMain(pid_type pid, const Identity& identity) const {
    if (!identity.applicationID ||
        (identity.executablePath && isSandboxLauncher(*identity.executablePath))) {
        return false;
    }
    // Sandbox launchers between an application and its parent are looked through.
    pid_type parent = identity.parentPID;
    for (int hop = 0; hop <= maxLauncherHops; ++hop) {
        if (parent < 1 || parent == pid) {
            return true;
        }
        const auto found = identities_.find(parent);
        if (found == identities_.end()) {
            return true;
        }
        const Identity& above = found->second;
        if (above.executablePath && isSandboxLauncher(*above.executablePath)) {
            parent = above.parentPID;
            continue;
        }
        return above.applicationID != identity.applicationID;
    }
    return true;
}

void RunningApplications::refresh() {
    const Seconds now = clock_.now();
    if (scannedAt_ && now - *scannedAt_ < maxAge_) {
        return;
    }
    scannedAt_ = now;
    std::map<pid_type, Identity> next;
    for (const pid_type pid : proc_->pids()) {
        const auto stat = proc_->stat(pid);
        if (!stat) {
            continue; // exited meanwhile, or not readable
        }
        const auto known = identities_.find(pid);
        if (known != identities_.end() && known->second.startTime == stat->startTime) {
            Identity identity = known->second;
            identity.parentPID = stat->parentPID; // orphans are adopted
            next.emplace(pid, std::move(identity));
        } else {
            next.emplace(pid, identify(pid, *stat));
        }
    }
    identities_ = std::move(next);
    std::erase_if(reported_, [&](const auto& entry) {
        const auto alive = identities_.find(entry.first);
        return alive == identities_.end() || alive->second.startTime != entry.second.first;
    });

    apps_.clear();
    for (const auto& [pid, identity] : identities_) {
        if (!isMain(pid, identity)) {
            continue;
        }
        std::optional<std::string> folder;
        if (identity.executablePath) {
            folder = installFolder(*identity.executablePath, searchPath_);
        }
        apps_.push_back({pid, *identity.applicationID, std::move(folder)});
    }
}

} // namespace brindell
