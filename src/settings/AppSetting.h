#pragma once

#include <optional>
#include <string>

namespace brindell {

// What is remembered for one application, keyed elsewhere by its bundle identifier.
struct AppSetting {
    float volume = 1.0f; // linear gain, 0 to 1, 1 = unchanged
    bool isMuted = false;
    std::optional<std::string> outputDeviceUID; // none: follow the system default output

    // Float equality on purpose: a stored volume is only ever a sanitised value, never NaN.
    friend bool operator==(const AppSetting&, const AppSetting&) = default;

    // The default is never stored: an application without an entry behaves exactly like this.
    bool isDefault() const { return *this == AppSetting{}; }
};

// The output rule shared by loading, every setter and the engine: an empty UID names no device,
// it means the system default output, the same as none.
std::optional<std::string> sanitizedOutputUID(std::optional<std::string> uid);

} // namespace brindell
