#include "output/ControlError.h"

namespace brindell {

const char* ControlError::text() const noexcept {
    switch (kind_) {
    case Kind::noDefaultOutput:
        return "noDefaultOutput";
    case Kind::noSoftwareVolume:
        return "noSoftwareVolume";
    case Kind::noMute:
        return "noMute";
    case Kind::deviceUnavailable:
        return "deviceUnavailable";
    }
    return "unknown";
}

} // namespace brindell
