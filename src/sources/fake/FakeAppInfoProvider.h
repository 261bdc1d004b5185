#pragma once

#include "sources/AppInfoProvider.h"
#include "sources/ProcessGrouper.h"

#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace brindell {

// Names by bundle id or pid, else "App <pid>"; records every lookup. Thread-safe.
class FakeAppInfoProvider final : public AppInfoProvider {
public:
    void setInfo(pid_type pid, AppInfo info);
    void setInfo(const std::string& bundleID, AppInfo info);

    std::vector<std::pair<pid_type, std::optional<std::string>>> calls() const;
    void clearCalls();

    AppInfo info(pid_type pid, const std::optional<std::string>& bundleID) override;

private:
    mutable std::mutex mutex_;
    std::map<pid_type, AppInfo> byPID_;
    std::map<std::string, AppInfo> byBundle_;
    std::vector<std::pair<pid_type, std::optional<std::string>>> calls_;
};

// Groups by pid from a table the test fills; counts calls. Thread-safe.
class FakeProcessGrouper final : public ProcessGrouper {
public:
    void setGroup(pid_type pid, std::optional<ProcessGroup> group);
    std::size_t callCount() const;

    std::optional<ProcessGroup> group(pid_type pid,
                                      const std::optional<std::string>& bundleID) override;

private:
    mutable std::mutex mutex_;
    std::map<pid_type, std::optional<ProcessGroup>> groups_;
    std::size_t calls_ = 0;
};

} // namespace brindell
