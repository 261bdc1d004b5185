#include "permission/CaptureFailureClassifier.h"

namespace brindell {

MixerRowStatus CaptureFailureClassifier::classify(const std::optional<AudioHardwareError>& failure,
                                                  const std::string& message) const {
    if (!failure) {
        return MixerRowStatus::captureFailed(message);
    }
    if (failure->kind() == AudioHardwareError::Kind::noSuchObject) {
        return MixerRowStatus::captureFailed(vanishedMessage);
    }
    if (confirmedProtectedStatuses_.contains(failure->code())) {
        return MixerRowStatus::drmRestricted();
    }
    return MixerRowStatus::captureFailed(refusedMessage(failure->operation(), failure->code()));
}

std::string CaptureFailureClassifier::refusedMessage(const std::string& operation,
                                                     std::int32_t code) {
    return "The audio system refused the " + operation + " step (error " + std::to_string(code) +
           ").";
}

} // namespace brindell
