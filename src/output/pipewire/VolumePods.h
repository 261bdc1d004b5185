#pragma once

// Internal to the PipeWire system control: Props and Route parameters to and from the plain
// records of MasterVolume.h. Values from the server are checked before use; anything malformed
// reads as absent.

#include "output/pipewire/MasterVolume.h"

#include <cstdint>
#include <optional>
#include <vector>

struct spa_pod;

namespace brindell::mastervolume {

// A parameter built for the server. Its memory keeps the 8-byte alignment pods need.
class PodBuffer {
public:
    const struct spa_pod* pod() const;
    bool empty() const { return words_.empty(); }
    std::vector<std::uint64_t>& words() { return words_; }

private:
    std::vector<std::uint64_t> words_;
};

// A Props object: its channelVolumes (Float array) and mute (Bool), where present. None when the
// pod is not an object.
std::optional<MixerProps> parseProps(const struct spa_pod* pod);

// A Route object: index and device (Int) are required; props is its nested Props object.
std::optional<Route> parseRoute(const struct spa_pod* pod);

// Props { channelVolumes, mute }, with only what the record holds.
PodBuffer buildProps(const MixerProps& props);

// Route { index, device, props, save: true }, as the desktop mixers write a route's volume so
// that the device remembers it.
PodBuffer buildRoute(std::int32_t index, std::int32_t device, const MixerProps& props);

} // namespace brindell::mastervolume
