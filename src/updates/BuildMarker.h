#pragma once

#include <optional>
#include <string>

namespace brindell {

// A badge the mixer panel and settings window show for special builds.
struct BuildMarker {
    std::string badge;
    std::string accessibilityLabel;
    std::optional<std::string> updateHost; // host of the update feed

    // None in this configuration, so no badge is shown.
    static std::optional<BuildMarker> current();

    friend bool operator==(const BuildMarker&, const BuildMarker&) = default;
};

} // namespace brindell
