#include "sources/WorkspaceAppInfoProvider.h"

#include "sources/TextCase.h"
#include "sources/Workspace.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

namespace brindell {
namespace {

constexpr std::array<std::string_view, 9> genericWords = {
    "helper", "xpc", "agent", "service", "services", "daemon", "renderer", "gpu", "plugin"};

std::vector<std::string> splitDroppingEmpty(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('.', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > start) {
            parts.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

std::string join(const std::vector<std::string>& parts, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            out += '.';
        }
        out += parts[i];
    }
    return out;
}

std::string lastPathComponent(const std::string& path) {
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') {
        --end;
    }
    const std::string trimmed = path.substr(0, end);
    if (trimmed == "/") {
        return trimmed;
    }
    const std::size_t slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

} // namespace

WorkspaceAppInfoProvider::WorkspaceAppInfoProvider(std::shared_ptr<Workspace> workspace,
                                                   std::int64_t cacheLimit)
    : workspace_(std::move(workspace)), cache_(cacheLimit) {}

std::size_t WorkspaceAppInfoProvider::cachedCount() const {
    const std::lock_guard lock(mutex_);
    return cache_.size();
}

std::string WorkspaceAppInfoProvider::nameFromBundleID(const std::string& bundleID) {
    const std::vector<std::string> parts = splitDroppingEmpty(bundleID);
    for (auto part = parts.rbegin(); part != parts.rend(); ++part) {
        const std::string lower = lowerCased(*part);
        if (std::find(genericWords.begin(), genericWords.end(), lower) == genericWords.end()) {
            return upperCasedFirst(*part);
        }
    }
    return upperCasedFirst(bundleID);
}

AppInfo WorkspaceAppInfoProvider::info(pid_type pid,
                                       const std::optional<std::string>& givenBundleID) {
    // An empty id names nothing; treated as none it still yields a readable name.
    std::optional<std::string> bundleID = givenBundleID;
    if (bundleID && bundleID->empty()) {
        bundleID.reset();
    }
    const std::lock_guard lock(mutex_);
    const std::optional<std::string> path = workspace_->executablePath(pid);
    // Without an id, programs started under different names (paplay and pacat are one file)
    // are told apart by the name they give.
    std::optional<std::string> given;
    if (!bundleID) {
        given = workspace_->givenName(pid);
    }
    const std::string key = bundleID ? "id:" + *bundleID
                            : path   ? "path:" + *path + "\n" + given.value_or("")
                            : given  ? "name:" + *given
                                     : "pid:" + std::to_string(pid);
    if (std::optional<AppInfo> cached = cache_.get(key)) {
        return *cached;
    }
    AppInfo result = resolve(pid, bundleID, path, given);
    cache_.set(key, result);
    return result;
}

AppInfo WorkspaceAppInfoProvider::resolve(pid_type pid, const std::optional<std::string>& bundleID,
                                          const std::optional<std::string>& path,
                                          std::optional<std::string> given) {
    // After the installed application's name, the name the app gives itself; never the name
    // of a symlink's target.
    const auto givenName = [&]() -> std::optional<AppInfo> {
        if (!given && bundleID) {
            given = workspace_->givenName(pid);
        }
        if (!given || given->empty()) {
            return std::nullopt;
        }
        return AppInfo{*given, workspace_->executableIcon()};
    };
    if (const auto running = workspace_->runningApplication(pid);
        running && running->localizedName) {
        std::optional<IconReference> icon = running->icon;
        if (!icon && path) {
            if (const auto bundle = workspace_->bundleContaining(*path)) {
                icon = workspace_->fileIcon(*bundle);
            }
        }
        return {*running->localizedName, std::move(icon)};
    }
    if (!bundleID && !path) {
        if (auto named = givenName()) {
            return *named;
        }
        return {"Process " + std::to_string(pid), std::nullopt};
    }
    if (bundleID) {
        // A helper's id is shortened one part at a time; the last id tried has two parts.
        std::string candidate = *bundleID;
        while (true) {
            if (const auto bundle = workspace_->applicationBundle(candidate)) {
                return bundleResult(*bundle);
            }
            const std::vector<std::string> parts = splitDroppingEmpty(candidate);
            if (parts.size() < 3) {
                break;
            }
            candidate = join(parts, parts.size() - 1);
        }
    }
    if (path) {
        if (const auto bundle = workspace_->bundleContaining(*path)) {
            return bundleResult(*bundle);
        }
    }
    if (auto named = givenName()) {
        return *named;
    }
    if (!path) {
        return {nameFromBundleID(*bundleID), std::nullopt};
    }
    return {lastPathComponent(*path), workspace_->executableIcon()};
}

AppInfo WorkspaceAppInfoProvider::bundleResult(const std::string& bundlePath) {
    std::string name;
    const std::optional<BundleNames> names = workspace_->bundleNames(bundlePath);
    if (names && names->displayName) {
        name = *names->displayName;
    } else if (names && names->name) {
        name = *names->name;
    } else {
        name = workspace_->bundleDisplayName(bundlePath);
    }
    return {std::move(name), workspace_->fileIcon(bundlePath)};
}

} // namespace brindell
