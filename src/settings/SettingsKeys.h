#pragma once

#include <array>
#include <string_view>

namespace brindell::settingsKeys {

// Every key the program stores through a SettingsStorage. The names are part of the stored
// format: each is a file name under the settings folder, so they never change.

// The per-application volume table (AppSettingsStore). Absent: no application is remembered.
inline constexpr std::string_view perAppSettings = "perAppSettings";
// Consent to anonymous crash reports (version, since). Absent: crash reports are off.
inline constexpr std::string_view crashConsent = "crashconsent";
// Onboarding progress (version, completed). Absent: onboarding not yet completed.
inline constexpr std::string_view onboarding = "onboarding";
// The global shortcut. Absent: no shortcut stored; the hotkey layer supplies the default.
inline constexpr std::string_view hotkey = "hotkey";
// Whether the tray icon is shown; kept by the status item itself under this name.
inline constexpr std::string_view statusItem = "BrindellStatusItem";

inline constexpr std::array<std::string_view, 5> all = {perAppSettings, crashConsent, onboarding,
                                                        hotkey, statusItem};

} // namespace brindell::settingsKeys
