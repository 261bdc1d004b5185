#include "permission/PermissionState.h"

namespace brindell {

const char* toString(PermissionState state) {
    switch (state) {
    case PermissionState::unknown:
        return "unknown";
    case PermissionState::granted:
        return "granted";
    case PermissionState::likelyDenied:
        return "likelyDenied";
    }
    return "unknown";
}

} // namespace brindell
