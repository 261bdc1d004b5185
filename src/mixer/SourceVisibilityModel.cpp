#include "mixer/SourceVisibilityModel.h"

#include "sources/TextCase.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <utility>

namespace brindell {

namespace {

Seconds cleanCoolDown(Seconds coolDown) {
    if (std::isnan(coolDown)) {
        return 5.0;
    }
    return std::clamp(coolDown, 0.0, 60.0);
}

} // namespace

SourceVisibilityModel::SourceVisibilityModel(Clock now, Seconds coolDown)
    : now_(std::move(now)), coolDown_(cleanCoolDown(coolDown)) {}

void SourceVisibilityModel::setOnChange(ChangeCallback callback) {
    onChange_ = callback ? std::move(callback) : [](const std::vector<VisibleSource>&) {};
}

void SourceVisibilityModel::update(const std::vector<AudioSource>& sources) {
    const Seconds now = now_();
    std::set<pid_type> present;
    std::set<pid_type> playing; // every process of every source
    for (const AudioSource& source : sources) {
        present.insert(source.pid);
        playing.insert(source.memberPIDs.begin(), source.memberPIDs.end());
    }
    for (const AudioSource& source : sources) {
        auto found = entries_.find(source.pid);
        if (found == entries_.end()) {
            found = entries_.emplace(source.pid, Entry{source, true, std::nullopt}).first;
            order_.push_back(source.pid);
            if (!interacting_) {
                sortOrder();
            }
        }
        // A source that comes back within its cool-down keeps its place.
        found->second.source = source;
        found->second.isActive = true;
        found->second.inactiveSince.reset();
    }
    for (auto& [pid, entry] : entries_) {
        if (entry.isActive && !present.contains(pid)) {
            entry.isActive = false;
            // A process that joined another row (a second instance, once it is known as one)
            // still plays there: its own row goes at once instead of lingering as stopped.
            entry.inactiveSince = playing.contains(pid) ? now - coolDown_ : now;
        }
    }
    prune();
}

void SourceVisibilityModel::prune() {
    if (!interacting_) {
        const Seconds now = now_();
        std::erase_if(entries_, [&](const auto& item) {
            const Entry& entry = item.second;
            return entry.inactiveSince && now - *entry.inactiveSince >= coolDown_;
        });
        std::erase_if(order_, [&](pid_type pid) { return !entries_.contains(pid); });
        sortOrder();
    }
    std::vector<VisibleSource> list = visibleSources();
    if (list != lastPublished_) {
        lastPublished_ = list;
        onChange_(list);
    }
}

void SourceVisibilityModel::setInteracting(std::optional<pid_type> pid) {
    interacting_ = pid;
    if (!interacting_) {
        prune();
    }
}

void SourceVisibilityModel::sortOrder() {
    // The lower-cased name is computed once per id, not once per comparison. UTF-8 compares
    // byte-wise in code point order. Ids without an entry (none outside one operation) go first,
    // by pid, so the comparison stays a strict weak order.
    std::vector<std::pair<std::optional<std::string>, pid_type>> keyed;
    keyed.reserve(order_.size());
    for (const pid_type pid : order_) {
        const auto found = entries_.find(pid);
        keyed.emplace_back(found == entries_.end()
                               ? std::nullopt
                               : std::optional<std::string>(lowerCased(found->second.source.name)),
                           pid);
    }
    std::sort(keyed.begin(), keyed.end());
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        order_[i] = keyed[i].second;
    }
}

std::vector<VisibleSource> SourceVisibilityModel::visibleSources() const {
    std::vector<VisibleSource> list;
    list.reserve(order_.size());
    for (const pid_type pid : order_) {
        const auto found = entries_.find(pid);
        if (found == entries_.end()) {
            continue;
        }
        const Entry& entry = found->second;
        std::optional<Seconds> expiresAt;
        if (entry.inactiveSince) {
            expiresAt = *entry.inactiveSince + coolDown_;
        }
        list.push_back(VisibleSource{entry.source, entry.isActive, expiresAt});
    }
    return list;
}

} // namespace brindell
