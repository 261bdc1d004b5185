#include "settings/AppSetting.h"

namespace brindell {

std::optional<std::string> sanitizedOutputUID(std::optional<std::string> uid) {
    if (uid && uid->empty()) {
        return std::nullopt;
    }
    return uid;
}

} // namespace brindell
