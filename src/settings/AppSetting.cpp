#include "settings/AppSetting.h"

#include <cmath>

namespace brindell {

float sanitizedVolume(float volume) {
    if (std::isnan(volume)) {
        return 1.0f;
    }
    if (volume <= 0.0f) {
        return 0.0f;
    }
    if (volume > 1.0f) {
        return 1.0f;
    }
    return volume;
}

std::optional<std::string> sanitizedOutputUID(std::optional<std::string> uid) {
    if (uid && uid->empty()) {
        return std::nullopt;
    }
    return uid;
}

} // namespace brindell
