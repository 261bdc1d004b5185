#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brindell {

// The path every crash-intake endpoint serves.
inline constexpr std::string_view crashIntakePath = "/v1/crash";

// The crash-intake endpoint a build was configured with, checked: an absolute https URL with a
// host and no whitespace or control characters. None for anything else, plain http included,
// since reports never travel unencrypted.
std::optional<std::string> crashIntakeEndpoint(std::string_view configured);

} // namespace brindell
