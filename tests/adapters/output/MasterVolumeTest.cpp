#include "output/pipewire/MasterVolume.h"

#include <cmath>
#include <gtest/gtest.h>

namespace brindell::mastervolume {
namespace {

MixerProps props(std::vector<float> volumes, std::optional<bool> mute) {
    MixerProps p;
    p.channelVolumes = std::move(volumes);
    p.mute = mute;
    return p;
}

Route route(std::int32_t index, std::int32_t device, std::optional<MixerProps> p) {
    return Route{index, device, std::move(p)};
}

TEST(MasterVolume, TheRouteOfTheSinksDeviceIndexIsUsedWhenItCarriesVolumeAndMute) {
    const std::vector<Route> routes = {
        route(0, 3, props({0.5f, 0.5f}, false)), // another device index (the microphone)
        route(2, 4, props({0.125f, 0.125f}, true)),
    };
    const std::vector<MixerProps> node = {props({1.0f, 1.0f}, false)};

    const Control c = chooseControl(4, routes, true, node, true);
    EXPECT_EQ(c.where, Control::Where::route);
    EXPECT_EQ(c.routeIndex, 2);
    EXPECT_EQ(c.routeDevice, 4);
    EXPECT_EQ(c.props.mute, std::optional<bool>(true));
    EXPECT_TRUE(routeApplies(4, routes, true));

    // No route for the sink's index, no index at all, or a read-only route: the node's Props.
    for (const Control& other : {chooseControl(5, routes, true, node, true),
                                 chooseControl(std::nullopt, routes, true, node, true),
                                 chooseControl(4, routes, false, node, true)}) {
        EXPECT_EQ(other.where, Control::Where::node);
        EXPECT_EQ(other.props.channelVolumes, std::vector<float>({1.0f, 1.0f}));
    }
}

TEST(MasterVolume, ARouteWithoutVolumeOrMuteFallsBackToTheNode) {
    const std::vector<MixerProps> node = {props({0.2f}, true)};
    for (const auto& routes : {std::vector<Route>{route(1, 4, std::nullopt)},
                               std::vector<Route>{route(1, 4, props({}, true))},
                               std::vector<Route>{route(1, 4, props({0.3f}, std::nullopt))}}) {
        EXPECT_FALSE(routeApplies(4, routes, true));
        EXPECT_EQ(chooseControl(4, routes, true, node, true).where, Control::Where::node);
    }
}

TEST(MasterVolume, ASinkWithoutVolumeOrWithReadOnlyPropsHasNoControl) {
    MixerProps noVolume; // Props without channelVolumes or mute (a pro-audio node)
    EXPECT_EQ(chooseControl(std::nullopt, {}, false, {noVolume}, true).where, Control::Where::none);
    EXPECT_EQ(chooseControl(std::nullopt, {}, false, {}, true).where, Control::Where::none);
    EXPECT_EQ(chooseControl(std::nullopt, {}, false, {props({1.0f}, false)}, false).where,
              Control::Where::none);

    // The first Props object that has something wins; mute alone is a control without volume.
    const Control muteOnly =
        chooseControl(std::nullopt, {}, false, {noVolume, props({}, true)}, true);
    EXPECT_EQ(muteOnly.where, Control::Where::node);
    EXPECT_FALSE(muteOnly.props.hasVolume());
    EXPECT_EQ(muteOnly.props.mute, std::optional<bool>(true));
}

TEST(MasterVolume, TheShownLevelIsTheMeanCubeRootClampedToOne) {
    EXPECT_FALSE(displayVolume({}));
    EXPECT_NEAR(*displayVolume({0.027f, 0.027f}), 0.3f, 1e-5f);
    EXPECT_NEAR(*displayVolume({0.008f, 0.064f}), 0.3f, 1e-5f); // (0.2 + 0.4) / 2
    EXPECT_EQ(*displayVolume({2.744f, 2.744f}), 1.0f);          // 140 %, over-amplified
    EXPECT_EQ(*displayVolume({std::nanf(""), -1.0f}), 0.0f);
    EXPECT_NEAR(*displayVolume({1.0f, 0.0f}), 0.5f, 1e-6f);

    EXPECT_NEAR(linearVolume(0.3f), 0.027f, 1e-6f);
    EXPECT_EQ(linearVolume(std::nanf("")), 0.0f);
    EXPECT_EQ(linearVolume(1.5f), 1.0f);
    EXPECT_EQ(linearVolume(-0.5f), 0.0f);
    for (float v : {0.0f, 0.1f, 0.5f, 0.73f, 1.0f}) {
        EXPECT_NEAR(*displayVolume({linearVolume(v)}), v, 1e-5f) << v;
    }
}

} // namespace
} // namespace brindell::mastervolume
