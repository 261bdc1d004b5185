#include "updates/BuildMarker.h"

namespace brindell {

std::optional<BuildMarker> BuildMarker::current() {
    return std::nullopt;
}

} // namespace brindell
