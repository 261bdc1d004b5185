#include "login/LoginItemService.h"

namespace brindell {

LoginItemStatus loginItemStatusFromRaw(std::int64_t raw) {
    switch (raw) {
    case 0:
        return LoginItemStatus::notRegistered;
    case 1:
        return LoginItemStatus::enabled;
    case 2:
        return LoginItemStatus::requiresApproval;
    default:
        return LoginItemStatus::notFound;
    }
}

const char* toString(LoginItemStatus status) {
    switch (status) {
    case LoginItemStatus::notRegistered:
        return "notRegistered";
    case LoginItemStatus::enabled:
        return "enabled";
    case LoginItemStatus::requiresApproval:
        return "requiresApproval";
    case LoginItemStatus::notFound:
        return "notFound";
    }
    return "notFound";
}

} // namespace brindell
