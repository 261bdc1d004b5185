#pragma once

// Internal to the PipeWire system control: which of a sink's parameters carries its volume and
// mute, and the scale the user sees. Plain records, no PipeWire types, so it is tested alone.

#include <cstdint>
#include <optional>
#include <vector>

namespace brindell::mastervolume {

// The volume and mute of a Props object (a node's, or a route's), as far as it has them.
// Channel volumes are PipeWire's linear factors.
struct MixerProps {
    std::optional<std::vector<float>> channelVolumes;
    std::optional<bool> mute;

    bool hasVolume() const { return channelVolumes.has_value() && !channelVolumes->empty(); }
    // What the desktop mixers ask of a route before they control the sink through it.
    bool isComplete() const { return hasVolume() && mute.has_value(); }
};

// One Route parameter of a device: the active route of one of its device indexes.
struct Route {
    std::int32_t index = -1;
    std::int32_t device = -1;
    std::optional<MixerProps> props;
};

// Where a sink's volume and mute are read and written.
struct Control {
    enum class Where { none, route, node };
    Where where = Where::none;
    std::int32_t routeIndex = -1;  // route: the Route's index
    std::int32_t routeDevice = -1; // route: the device index it belongs to
    MixerProps props;              // what was read there
};

// The desktop mixers' rule: a sink that belongs to a device and names its device index
// (card.profile.device) is controlled on the device's route for that index, when that route
// carries both channel volumes and mute; otherwise on the node's first Props object that has a
// volume or a mute. Without either, or when the parameter is not writable, there is no control.
Control chooseControl(std::optional<std::int32_t> profileDevice, const std::vector<Route>& routes,
                      bool routeWritable, const std::vector<MixerProps>& nodeProps,
                      bool propsWritable);

// Whether the route rule applies to these routes (so the node's Props need not be read).
bool routeApplies(std::optional<std::int32_t> profileDevice, const std::vector<Route>& routes,
                  bool routeWritable);

// The level the desktop mixers show, 0 to 1: the mean over the channels of the cube root of
// each linear volume. Negative and NaN channels count as 0; an over-amplified sink reads as 1.
// None without channels.
std::optional<float> displayVolume(const std::vector<float>& linear);

// The linear factor of a shown level (its cube); NaN as 0, clamped to 0 to 1 first.
float linearVolume(float display);

} // namespace brindell::mastervolume
