#pragma once

#include "mixer/MixerRecords.h"

#include <optional>
#include <string>
#include <vector>

namespace brindell {

// Extra content for the snapshot modes and the preview launch, beyond the canned snapshot:
// other states of the panel, and more rows to show a list that scrolls.
enum class PreviewState {
    canned,      // the canned snapshot as it stands
    granted,     // capture proven: permission granted
    denied,      // capture likely denied: the banner, and every row needs permission
    noOutput,    // no default output known
    fixedVolume, // an output without software volume or mute control
    empty,       // no application is playing
};

// The names the command line uses: "canned", "granted", "denied", "no-output",
// "fixed-volume", "empty".
std::optional<PreviewState> previewStateNamed(const std::string& name);
std::vector<std::string> previewStateNames();

// The canned snapshot changed to the state, with extraRows more rows appended (names, volumes,
// mute, playing and status vary; each status appears). extraRows is at most maxExtraRows.
MixerSnapshot previewSnapshot(PreviewState state, int extraRows);
inline constexpr int maxExtraRows = 200;

} // namespace brindell
