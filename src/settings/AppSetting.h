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

// The volume rule shared by loading and every setter: NaN means "unchanged" (1), then clamped to
// 0...1, so -inf gives 0 and +inf gives 1. Negative zero becomes +0 so the stored text is "0".
float sanitizedVolume(float volume);

// The output rule shared by loading, every setter and the engine: an empty UID names no device,
// it means the system default output, the same as none.
std::optional<std::string> sanitizedOutputUID(std::optional<std::string> uid);

} // namespace brindell
