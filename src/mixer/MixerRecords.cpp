#include "mixer/MixerRecords.h"

namespace brindell {

std::string MixerRowStatus::text() const {
    switch (kind_) {
    case Kind::ok:
        return "ok";
    case Kind::starting:
        return "starting";
    case Kind::waitingForDevice:
        return "waitingForDevice";
    case Kind::drmRestricted:
        return "drmRestricted";
    case Kind::needsPermission:
        return "needsPermission";
    case Kind::captureFailed:
        return "captureFailed(\"" + message_ + "\")";
    }
    return "ok";
}

std::optional<StatusPresentation> presentation(const MixerRowStatus& status, bool isActive) {
    using Kind = MixerRowStatus::Kind;
    switch (status.kind()) {
    case Kind::ok:
        return std::nullopt;
    case Kind::starting:
        if (!isActive) {
            return std::nullopt;
        }
        return StatusPresentation{"ellipsis.circle", "Starting\u2026", false};
    case Kind::waitingForDevice:
        return StatusPresentation{"speaker.badge.exclamationmark",
                                  "The chosen output is not connected. Playing on the default "
                                  "output until it returns.",
                                  true};
    case Kind::drmRestricted:
        return StatusPresentation{"shield.lefthalf.filled",
                                  "Protected audio: the system does not let Brindell adjust this "
                                  "app. It plays normally.",
                                  false};
    case Kind::needsPermission:
        return StatusPresentation{
            "lock.slash", "Brindell needs permission to adjust this app. It plays normally.", true};
    case Kind::captureFailed:
        return StatusPresentation{"exclamationmark.triangle.fill",
                                  "Brindell can't control this app right now. It plays normally. " +
                                      status.message(),
                                  true};
    }
    return std::nullopt;
}

} // namespace brindell
