#pragma once

#include "mixer/MixerRecords.h"

#include <optional>
#include <string>
#include <vector>

namespace brindell {

// What the panel's height depends on. A change of it re-measures the panel; volume, mute and
// level changes do not change it.
struct LayoutKey {
    // Per row, in order: "PID|status|active".
    std::vector<std::string> rows;
    PermissionState permission = PermissionState::unknown;
    bool hasVolume = false;      // the system output is known and has a software volume
    bool serverReachable = true; // without the server a note stands in for the rows

    static LayoutKey make(const std::vector<MixerRow>& rows, PermissionState permission,
                          const std::optional<OutputState>& master, bool serverReachable = true);

    friend bool operator==(const LayoutKey&, const LayoutKey&) = default;
};

} // namespace brindell
