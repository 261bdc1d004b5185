#include "output/pipewire/VolumePods.h"

// The spa headers and their builder macros, used throughout, need these warnings off.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wcast-align"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wuseless-cast"
#include <gtest/gtest.h>
#include <spa/param/props.h>
#include <spa/param/route.h>
#include <spa/pod/builder.h>
#include <spa/pod/iter.h>

namespace brindell::mastervolume {
namespace {

// Pods as the server might send them, good or bad.
struct Pod {
    Pod() { spa_pod_builder_init(&builder, buffer, sizeof buffer); }
    const struct spa_pod* pod() const { return reinterpret_cast<const struct spa_pod*>(buffer); }

    alignas(8) std::uint8_t buffer[8192] = {};
    spa_pod_builder builder{};
};

// (Props on a sink's node make the round trip through a real server in the audio tier.)
TEST(VolumePods, PropsAndRoutesSurviveTheTripThroughAPod) {
    MixerProps props;
    props.channelVolumes = std::vector<float>{0.027f, 0.5f, 1.0f};
    props.mute = true;
    // Only what the record holds is written: a volume change carries no mute.
    MixerProps volumeOnly;
    volumeOnly.channelVolumes = std::vector<float>{0.1f, 0.1f};
    const auto partial = parseProps(buildProps(volumeOnly).pod());
    ASSERT_TRUE(partial);
    EXPECT_FALSE(partial->mute);

    const PodBuffer route = buildRoute(7, 3, props);
    const auto back = parseRoute(route.pod());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->index, 7);
    EXPECT_EQ(back->device, 3);
    ASSERT_TRUE(back->props);
    EXPECT_EQ(back->props->channelVolumes, props.channelVolumes);
    // The route is saved, so the card keeps the level.
    const auto* object = reinterpret_cast<const struct spa_pod_object*>(route.pod());
    const struct spa_pod_prop* save =
        spa_pod_object_find_prop(object, nullptr, SPA_PARAM_ROUTE_save);
    ASSERT_NE(save, nullptr);
    bool saved = false;
    EXPECT_EQ(spa_pod_get_bool(&save->value, &saved), 0);
    EXPECT_TRUE(saved);
}

TEST(VolumePods, MalformedParametersReadAsAbsent) {
    EXPECT_FALSE(parseProps(nullptr));
    EXPECT_FALSE(parseRoute(nullptr));

    Pod notAnObject;
    spa_pod_builder_int(&notAnObject.builder, 5);
    EXPECT_FALSE(parseProps(notAnObject.pod()));
    EXPECT_FALSE(parseRoute(notAnObject.pod()));

    // Volumes of the wrong type, a mute that is no Bool.
    Pod wrongTypes;
    struct spa_pod_frame f {};
    spa_pod_builder_push_object(&wrongTypes.builder, &f, SPA_TYPE_OBJECT_Props, SPA_PARAM_Props);
    const std::int32_t ints[] = {1, 2};
    spa_pod_builder_prop(&wrongTypes.builder, SPA_PROP_channelVolumes, 0);
    spa_pod_builder_array(&wrongTypes.builder, sizeof(std::int32_t), SPA_TYPE_Int, 2, ints);
    spa_pod_builder_prop(&wrongTypes.builder, SPA_PROP_mute, 0);
    spa_pod_builder_int(&wrongTypes.builder, 1);
    spa_pod_builder_pop(&wrongTypes.builder, &f);
    const auto props = parseProps(wrongTypes.pod());
    ASSERT_TRUE(props);
    EXPECT_FALSE(props->channelVolumes);
    EXPECT_FALSE(props->mute);
    EXPECT_FALSE(props->hasVolume());

    // More channels than any sink has.
    Pod tooMany;
    std::vector<float> many(200, 0.5f);
    spa_pod_builder_push_object(&tooMany.builder, &f, SPA_TYPE_OBJECT_Props, SPA_PARAM_Props);
    spa_pod_builder_prop(&tooMany.builder, SPA_PROP_channelVolumes, 0);
    spa_pod_builder_array(&tooMany.builder, sizeof(float), SPA_TYPE_Float, 200, many.data());
    spa_pod_builder_pop(&tooMany.builder, &f);
    EXPECT_FALSE(parseProps(tooMany.pod())->channelVolumes);

    // A route without its device index is no route; one without props has none.
    Pod noDevice;
    spa_pod_builder_push_object(&noDevice.builder, &f, SPA_TYPE_OBJECT_ParamRoute, SPA_PARAM_Route);
    spa_pod_builder_prop(&noDevice.builder, SPA_PARAM_ROUTE_index, 0);
    spa_pod_builder_int(&noDevice.builder, 1);
    spa_pod_builder_pop(&noDevice.builder, &f);
    EXPECT_FALSE(parseRoute(noDevice.pod()));

    Pod noProps;
    spa_pod_builder_push_object(&noProps.builder, &f, SPA_TYPE_OBJECT_ParamRoute, SPA_PARAM_Route);
    spa_pod_builder_prop(&noProps.builder, SPA_PARAM_ROUTE_index, 0);
    spa_pod_builder_int(&noProps.builder, 1);
    spa_pod_builder_prop(&noProps.builder, SPA_PARAM_ROUTE_device, 0);
    spa_pod_builder_int(&noProps.builder, 4);
    spa_pod_builder_pop(&noProps.builder, &f);
    const auto route = parseRoute(noProps.pod());
    ASSERT_TRUE(route);
    EXPECT_EQ(route->device, 4);
    EXPECT_FALSE(route->props);
}

} // namespace
} // namespace brindell::mastervolume

#pragma GCC diagnostic pop
