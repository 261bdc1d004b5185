#pragma once

#include "sources/AudioSourceRecords.h"

#include <optional>
#include <string>

namespace brindell {

// Folds helper processes into the application that owns them.
class ProcessGrouper {
public:
    virtual ~ProcessGrouper() = default;

    // The application the process belongs to; none when it belongs to no known application.
    // Called on the source monitor's queue for every playing process on every poll.
    virtual std::optional<ProcessGroup> group(pid_type pid,
                                              const std::optional<std::string>& bundleID) = 0;
};

// Groups nothing: for previews and diagnostics.
class NoProcessGrouper final : public ProcessGrouper {
public:
    std::optional<ProcessGroup> group(pid_type, const std::optional<std::string>&) override {
        return std::nullopt;
    }
};

} // namespace brindell
