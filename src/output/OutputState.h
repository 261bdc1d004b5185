#pragma once

#include <optional>
#include <string>

namespace brindell {

// What the master section shows of the system's default output.
struct OutputState {
    // The default output, or its main sub-device when the default output combines several.
    std::string deviceUID;
    std::string deviceName;      // the UID when no name can be read
    std::optional<float> volume; // 0 to 1; none: the device has no software volume
    std::optional<bool> isMuted; // none: the device has no settable mute
    friend bool operator==(const OutputState&, const OutputState&) = default;
};

} // namespace brindell
