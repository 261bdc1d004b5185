#include "output/pipewire/VolumePods.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wcast-align"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wpedantic"
#include <spa/param/audio/raw.h>
#include <spa/param/param.h>
#include <spa/param/props.h>
#include <spa/param/route.h>
#include <spa/pod/builder.h>
#include <spa/pod/iter.h>
#pragma GCC diagnostic pop

#include <cstring>

namespace brindell::mastervolume {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wcast-align"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wuseless-cast"

namespace {

// More channels than any sink has: a longer array is taken as malformed.
constexpr std::uint32_t maxChannels = SPA_AUDIO_MAX_CHANNELS;
// Enough for a route with every channel.
constexpr std::size_t podBytes = 4096;

const struct spa_pod_object* asObject(const struct spa_pod* pod) {
    if (pod == nullptr || !spa_pod_is_object(pod)) {
        return nullptr;
    }
    return reinterpret_cast<const struct spa_pod_object*>(pod);
}

const struct spa_pod* propValue(const struct spa_pod_object* object, std::uint32_t key) {
    const struct spa_pod_prop* prop = spa_pod_object_find_prop(object, nullptr, key);
    return prop != nullptr ? &prop->value : nullptr;
}

std::optional<std::vector<float>> floatArray(const struct spa_pod* pod) {
    if (pod == nullptr || !spa_pod_is_array(pod)) {
        return std::nullopt;
    }
    const auto* array = reinterpret_cast<const struct spa_pod_array*>(pod);
    if (array->body.child.type != SPA_TYPE_Float || array->body.child.size != sizeof(float)) {
        return std::nullopt;
    }
    const std::size_t count = SPA_POD_ARRAY_N_VALUES(pod);
    if (count > maxChannels) {
        return std::nullopt;
    }
    std::vector<float> values(count);
    if (count > 0) {
        std::memcpy(values.data(), SPA_POD_ARRAY_VALUES(pod), count * sizeof(float));
    }
    return values;
}

class Builder {
public:
    explicit Builder(PodBuffer& buffer) : buffer_(buffer) {
        buffer_.words().assign(podBytes / sizeof(std::uint64_t), 0);
        spa_pod_builder_init(&builder_, buffer_.words().data(), podBytes);
    }
    struct spa_pod_builder* get() {
        return &builder_;
    }
    // Keeps the pod only when all of it fitted.
    void finish(const void* pod) {
        if (pod == nullptr || builder_.state.offset > podBytes) {
            buffer_.words().clear();
        }
    }

private:
    PodBuffer& buffer_;
    struct spa_pod_builder builder_ {};
};

void addProps(struct spa_pod_builder* b, const MixerProps& props) {
    struct spa_pod_frame frame {};
    spa_pod_builder_push_object(b, &frame, SPA_TYPE_OBJECT_Props, SPA_PARAM_Props);
    if (props.channelVolumes) {
        spa_pod_builder_prop(b, SPA_PROP_channelVolumes, 0);
        spa_pod_builder_array(b, sizeof(float), SPA_TYPE_Float,
                              static_cast<std::uint32_t>(props.channelVolumes->size()),
                              props.channelVolumes->data());
    }
    if (props.mute) {
        spa_pod_builder_prop(b, SPA_PROP_mute, 0);
        spa_pod_builder_bool(b, *props.mute);
    }
    spa_pod_builder_pop(b, &frame);
}

} // namespace

const struct spa_pod* PodBuffer::pod() const {
    return words_.empty() ? nullptr : reinterpret_cast<const struct spa_pod*>(words_.data());
}

std::optional<MixerProps> parseProps(const struct spa_pod* pod) {
    const struct spa_pod_object* object = asObject(pod);
    if (object == nullptr) {
        return std::nullopt;
    }
    MixerProps props;
    props.channelVolumes = floatArray(propValue(object, SPA_PROP_channelVolumes));
    bool mute = false;
    if (const struct spa_pod* value = propValue(object, SPA_PROP_mute);
        value != nullptr && spa_pod_get_bool(value, &mute) == 0) {
        props.mute = mute;
    }
    return props;
}

std::optional<Route> parseRoute(const struct spa_pod* pod) {
    const struct spa_pod_object* object = asObject(pod);
    if (object == nullptr) {
        return std::nullopt;
    }
    Route route;
    const struct spa_pod* index = propValue(object, SPA_PARAM_ROUTE_index);
    const struct spa_pod* device = propValue(object, SPA_PARAM_ROUTE_device);
    if (index == nullptr || device == nullptr || spa_pod_get_int(index, &route.index) != 0 ||
        spa_pod_get_int(device, &route.device) != 0) {
        return std::nullopt;
    }
    route.props = parseProps(propValue(object, SPA_PARAM_ROUTE_props));
    return route;
}

PodBuffer buildProps(const MixerProps& props) {
    PodBuffer buffer;
    Builder builder(buffer);
    struct spa_pod_builder* b = builder.get();
    addProps(b, props);
    builder.finish(buffer.words().data());
    return buffer;
}

PodBuffer buildRoute(std::int32_t index, std::int32_t device, const MixerProps& props) {
    PodBuffer buffer;
    Builder builder(buffer);
    struct spa_pod_builder* b = builder.get();
    struct spa_pod_frame frame {};
    spa_pod_builder_push_object(b, &frame, SPA_TYPE_OBJECT_ParamRoute, SPA_PARAM_Route);
    spa_pod_builder_prop(b, SPA_PARAM_ROUTE_index, 0);
    spa_pod_builder_int(b, index);
    spa_pod_builder_prop(b, SPA_PARAM_ROUTE_device, 0);
    spa_pod_builder_int(b, device);
    spa_pod_builder_prop(b, SPA_PARAM_ROUTE_props, 0);
    addProps(b, props);
    spa_pod_builder_prop(b, SPA_PARAM_ROUTE_save, 0);
    spa_pod_builder_bool(b, true);
    builder.finish(spa_pod_builder_pop(b, &frame));
    return buffer;
}

#pragma GCC diagnostic pop

} // namespace brindell::mastervolume
