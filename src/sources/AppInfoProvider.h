#pragma once

#include "sources/AudioSourceRecords.h"

#include <optional>
#include <string>

namespace brindell {

// Display name and icon of an application or process.
class AppInfoProvider {
public:
    virtual ~AppInfoProvider() = default;

    // Never fails: the implementation supplies a fall-back name itself. Called on the source
    // monitor's queue; implementations may touch the file system.
    virtual AppInfo info(pid_type pid, const std::optional<std::string>& bundleID) = 0;
};

} // namespace brindell
