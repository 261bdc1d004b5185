#include "sources/AudioSourceMonitor.h"

#include "sources/TextCase.h"

#include <algorithm>

namespace brindell {

std::shared_ptr<AudioSourceMonitor>
AudioSourceMonitor::create(std::shared_ptr<AudioProcessSource> source,
                           std::shared_ptr<AppInfoProvider> appInfo, pid_type ownPID,
                           std::shared_ptr<ProcessGrouper> grouper,
                           std::set<std::string> ignoredBundleIDs) {
    return std::make_shared<AudioSourceMonitor>(Token{}, std::move(source), std::move(appInfo),
                                                ownPID, std::move(grouper),
                                                std::move(ignoredBundleIDs));
}

AudioSourceMonitor::AudioSourceMonitor(Token, std::shared_ptr<AudioProcessSource> source,
                                       std::shared_ptr<AppInfoProvider> appInfo, pid_type ownPID,
                                       std::shared_ptr<ProcessGrouper> grouper,
                                       std::set<std::string> ignoredBundleIDs)
    : source_(std::move(source)), appInfo_(std::move(appInfo)), ownPID_(ownPID),
      grouper_(std::move(grouper)), ignoredBundleIDs_(std::move(ignoredBundleIDs)) {}

AudioSourceMonitor::~AudioSourceMonitor() {
    // A released monitor polls no more; its callbacks would find it gone anyway, but the
    // timer would keep waking the queue and the source would keep the queue alive.
    if (timer_) {
        timer_->cancel();
        source_->setOnChange(nullptr);
    }
}

void AudioSourceMonitor::setOnEvent(EventCallback callback) {
    onEvent_ = callback ? std::move(callback) : [](const AudioSourceEvent&) {};
}

void AudioSourceMonitor::setOnChange(ChangeCallback callback) {
    onChange_ = callback ? std::move(callback) : [](const std::vector<AudioSource>&) {};
}

void AudioSourceMonitor::start(std::shared_ptr<SerialQueue> queue, Seconds interval) {
    stop();
    const std::weak_ptr<AudioSourceMonitor> weak = weak_from_this();
    timer_ = queue->scheduleTimer(queue->now(), interval, [weak] {
        if (const auto monitor = weak.lock()) {
            monitor->poll();
        }
    });
    // Every notification yields one poll: the source only calls when something changed, and
    // a poll is cheap next to a missed player.
    source_->setOnChange([queue, weak] {
        queue->async([weak] {
            if (const auto monitor = weak.lock()) {
                monitor->poll();
            }
        });
    });
}

void AudioSourceMonitor::stop() {
    if (timer_) {
        timer_->cancel();
        timer_.reset();
    }
    source_->setOnChange(nullptr);
}

std::string AudioSourceMonitor::appKey(const std::string& bundleID) {
    return "app:" + lowerCased(bundleID);
}

std::string AudioSourceMonitor::processKey(AudioObjectID objectID) {
    return "process:" + std::to_string(objectID);
}

void AudioSourceMonitor::poll() {
    std::vector<AudioProcessInfo> processes;
    try {
        processes = source_->processes();
    } catch (const AudioHardwareError&) {
        return; // the next tick tries again; what was listed stays listed
    }

    std::map<std::string, std::vector<AudioProcessInfo>> members;
    std::map<std::string, ProcessGroup> groups;
    for (const AudioProcessInfo& process : processes) {
        if (!process.isRunningOutput || process.pid < 1 || process.pid == ownPID_) {
            continue;
        }
        if (process.bundleID && ignoredBundleIDs_.contains(*process.bundleID)) {
            continue;
        }
        std::optional<ProcessGroup> group = grouper_->group(process.pid, process.bundleID);
        if (!group) {
            members[processKey(process.objectID)].push_back(process);
            continue;
        }
        if (ignoredBundleIDs_.contains(group->bundleID)) {
            continue;
        }
        const std::string key = appKey(group->bundleID);
        members[key].push_back(process);
        // A group that knows the main pid is worth more than one that does not.
        const auto recorded = groups.find(key);
        if (recorded == groups.end()) {
            groups.emplace(key, std::move(*group));
        } else if (!recorded->second.mainPID) {
            recorded->second = std::move(*group);
        }
    }

    bool changed = false;
    std::map<std::string, AudioSource> next;
    for (auto& [key, list] : members) {
        std::stable_sort(list.begin(), list.end(),
                         [](const auto& a, const auto& b) { return a.pid < b.pid; });
        const AudioProcessInfo& first = list.front();
        pid_type pid = first.pid;
        std::optional<std::string> bundleID = first.bundleID;
        if (const auto group = groups.find(key); group != groups.end()) {
            bundleID = group->second.bundleID;
            pid = group->second.mainPID.value_or(first.pid);
        }
        std::vector<pid_type> memberPIDs;
        memberPIDs.reserve(list.size());
        for (const AudioProcessInfo& process : list) {
            memberPIDs.push_back(process.pid);
        }

        const auto old = active_.find(key);
        if (old != active_.end() && old->second.pid == pid && old->second.bundleID == bundleID) {
            AudioSource kept = old->second;
            if (kept.memberPIDs != memberPIDs) {
                changed = true;
            }
            kept.memberPIDs = std::move(memberPIDs);
            next.emplace(key, std::move(kept));
        } else {
            AppInfo info = appInfo_->info(pid, bundleID);
            next.emplace(key, AudioSource{first.objectID, pid, bundleID, std::move(info.name),
                                          std::move(info.icon), std::move(memberPIDs)});
        }
    }

    const auto sameIdentity = [](const AudioSource& a, const AudioSource& b) {
        return a.pid == b.pid && a.bundleID == b.bundleID;
    };
    for (const auto& [key, source] : active_) {
        const auto now = next.find(key);
        if (now == next.end() || !sameIdentity(now->second, source)) {
            onEvent_(AudioSourceEvent::stopped(source));
            changed = true;
        }
    }
    for (const auto& [key, source] : next) {
        const auto before = active_.find(key);
        if (before == active_.end() || !sameIdentity(before->second, source)) {
            onEvent_(AudioSourceEvent::started(source));
            changed = true;
        }
    }
    active_ = std::move(next);

    if (!changed) {
        return;
    }
    std::vector<std::pair<std::string, const AudioSource*>> order;
    order.reserve(active_.size());
    for (const auto& [key, source] : active_) {
        order.emplace_back(lowerCased(source.name), &source);
    }
    std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first) {
            return a.first < b.first;
        }
        return a.second->pid < b.second->pid;
    });
    std::vector<AudioSource> sorted;
    sorted.reserve(order.size());
    for (const auto& entry : order) {
        sorted.push_back(*entry.second);
    }
    onChange_(sorted);
}

} // namespace brindell
