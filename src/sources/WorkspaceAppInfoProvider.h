#pragma once

#include "sources/AppInfoProvider.h"
#include "sources/BoundedCache.h"

#include <memory>
#include <mutex>

namespace brindell {

class Workspace;

// Names and icons of sources: what the running application says about itself, else the
// installed application, else the name the process gives itself (Workspace::givenName), else
// the executable, else a name made from the bundle id. Results
// are cached (least recently used goes first), keyed by bundle id, else executable path, else
// pid; a hit costs one executable-path read and nothing else.
//
// Threading: info may be called from any thread; lookups are serialised.
class WorkspaceAppInfoProvider final : public AppInfoProvider {
public:
    static constexpr std::int64_t defaultCacheLimit = 48;

    explicit WorkspaceAppInfoProvider(std::shared_ptr<Workspace> workspace,
                                      std::int64_t cacheLimit = defaultCacheLimit);

    AppInfo info(pid_type pid, const std::optional<std::string>& bundleID) override;

    // The last part of the id that is not a generic word (helper, renderer, ...), its first
    // letter upper-cased; the whole id when every part is generic.
    static std::string nameFromBundleID(const std::string& bundleID);

    std::size_t cachedCount() const;

private:
    AppInfo resolve(pid_type pid, const std::optional<std::string>& bundleID,
                    const std::optional<std::string>& path, std::optional<std::string> given);
    AppInfo bundleResult(const std::string& bundlePath);

    const std::shared_ptr<Workspace> workspace_;
    mutable std::mutex mutex_;
    BoundedCache<std::string, AppInfo> cache_;
};

} // namespace brindell
