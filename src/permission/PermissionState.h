#pragma once

namespace brindell {

// Whether the audio system lets Brindell capture other applications' sound, as inferred from
// what the taps deliver: no evidence yet, audio has arrived, or every tapped app stayed silent.
enum class PermissionState {
    unknown,
    granted,
    likelyDenied,
};

// The case name, as it reads in messages and logs.
const char* toString(PermissionState state);

} // namespace brindell
