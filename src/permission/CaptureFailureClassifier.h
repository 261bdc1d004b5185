#pragma once

#include "audio/AudioHardwareError.h"
#include "mixer/MixerRecords.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>

namespace brindell {

// Turns a failed tap session, or a session that could not be started, into what its row says.
// The application itself keeps playing untouched in every case.
//
// Threading: a plain value, owned by the mixer engine and used on its queue.
class CaptureFailureClassifier {
public:
    // The row text when the process object was gone before its tap could be made.
    static constexpr const char* vanishedMessage =
        "This app stopped playing audio before Brindell could connect.";

    CaptureFailureClassifier() = default;
    explicit CaptureFailureClassifier(std::set<std::int32_t> confirmedProtectedStatuses)
        : confirmedProtectedStatuses_(std::move(confirmedProtectedStatuses)) {}

    // failure: the hardware error behind the session's failure, none when it had another
    // cause; message: the session's failure message, shown when there is no hardware error.
    MixerRowStatus classify(const std::optional<AudioHardwareError>& failure,
                            const std::string& message) const;

    // "The audio system refused the CreateProcessTap step (error -50)."
    static std::string refusedMessage(const std::string& operation, std::int32_t code);

    // Status codes known to mean the audio system will not let this application be tapped
    // (protected content). None are known yet, so none are shipped.
    const std::set<std::int32_t>& confirmedProtectedStatuses() const {
        return confirmedProtectedStatuses_;
    }
    void addProtectedStatus(std::int32_t code) { confirmedProtectedStatuses_.insert(code); }

private:
    std::set<std::int32_t> confirmedProtectedStatuses_;
};

} // namespace brindell
