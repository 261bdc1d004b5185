#include "sources/fake/FakeAppInfoProvider.h"

namespace brindell {

void FakeAppInfoProvider::setInfo(pid_type pid, AppInfo info) {
    const std::lock_guard lock(mutex_);
    byPID_[pid] = std::move(info);
}

void FakeAppInfoProvider::setInfo(const std::string& bundleID, AppInfo info) {
    const std::lock_guard lock(mutex_);
    byBundle_[bundleID] = std::move(info);
}

std::vector<std::pair<pid_type, std::optional<std::string>>> FakeAppInfoProvider::calls() const {
    const std::lock_guard lock(mutex_);
    return calls_;
}

void FakeAppInfoProvider::clearCalls() {
    const std::lock_guard lock(mutex_);
    calls_.clear();
}

AppInfo FakeAppInfoProvider::info(pid_type pid, const std::optional<std::string>& bundleID) {
    const std::lock_guard lock(mutex_);
    calls_.emplace_back(pid, bundleID);
    if (bundleID) {
        if (const auto found = byBundle_.find(*bundleID); found != byBundle_.end()) {
            return found->second;
        }
    }
    if (const auto found = byPID_.find(pid); found != byPID_.end()) {
        return found->second;
    }
    return {"App " + std::to_string(pid), std::nullopt};
}

void FakeProcessGrouper::setGroup(pid_type pid, std::optional<ProcessGroup> group) {
    const std::lock_guard lock(mutex_);
    groups_[pid] = std::move(group);
}

std::size_t FakeProcessGrouper::callCount() const {
    const std::lock_guard lock(mutex_);
    return calls_;
}

std::optional<ProcessGroup> FakeProcessGrouper::group(pid_type pid,
                                                      const std::optional<std::string>&) {
    const std::lock_guard lock(mutex_);
    ++calls_;
    const auto found = groups_.find(pid);
    return found == groups_.end() ? std::nullopt : found->second;
}

} // namespace brindell
