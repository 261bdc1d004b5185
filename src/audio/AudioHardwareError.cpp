#include "audio/AudioHardwareError.h"

namespace brindell {

AudioHardwareError::AudioHardwareError(Kind kind, std::string operation, std::int32_t code)
    : kind_(kind), operation_(std::move(operation)), code_(code) {
    if (kind_ == Kind::noSuchObject) {
        text_ = "noSuchObject";
    } else {
        text_ = "status(\"" + operation_ + "\", " + std::to_string(code_) + ")";
    }
}

} // namespace brindell
