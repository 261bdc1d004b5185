#pragma once

// Internal to the PipeWire adapter. PipeWire's method macros expand to C casts inside our own
// translation units; these wrappers keep that to one place, so the rest of the adapter is
// compiled with the full warning set.

#include <pipewire/extensions/metadata.h>
#include <pipewire/pipewire.h>
#include <spa/node/command.h>
#include <spa/param/audio/format.h>
#include <spa/param/buffers.h>
#include <spa/param/format.h>
#include <spa/pod/builder.h>

namespace brindell::pwcall {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wuseless-cast"
#pragma GCC diagnostic ignored "-Wcast-align"
#pragma GCC diagnostic ignored "-Wnull-dereference"

#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wsign-conversion"

// The parameters of a 32-bit float mono DSP port whose buffers hold `samples` samples: what a
// filter port gets from its "format.dsp" property, but not held to 8192 samples.
inline void dspPortParams(struct spa_pod_builder* builder, std::uint32_t samples,
                          const struct spa_pod* params[2]) {
    const auto bytes = static_cast<std::int32_t>(samples * sizeof(float));
    params[0] = static_cast<const struct spa_pod*>(
        spa_pod_builder_add_object(builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat,
                                   SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_audio),
                                   SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_dsp),
                                   SPA_FORMAT_AUDIO_format, SPA_POD_Id(SPA_AUDIO_FORMAT_DSP_F32)));
    params[1] = static_cast<const struct spa_pod*>(spa_pod_builder_add_object(
        builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(1, 1, 64), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
        SPA_PARAM_BUFFERS_size, SPA_POD_CHOICE_STEP_Int(bytes, 4, bytes, 4),
        SPA_PARAM_BUFFERS_stride, SPA_POD_Int(4)));
}

inline int coreSync(struct pw_core* core) {
    return pw_core_sync(core, PW_ID_CORE, 0);
}

inline void* coreCreateObject(struct pw_core* core, const char* factory, const char* type,
                              std::uint32_t version, const struct spa_dict* props) {
    return pw_core_create_object(core, factory, type, version, props, 0);
}

inline void coreAddListener(struct pw_core* core, struct spa_hook* hook,
                            const struct pw_core_events* events, void* data) {
    pw_core_add_listener(core, hook, events, data);
}

inline struct pw_registry* coreGetRegistry(struct pw_core* core) {
    return pw_core_get_registry(core, PW_VERSION_REGISTRY, 0);
}

inline void registryAddListener(struct pw_registry* registry, struct spa_hook* hook,
                                const struct pw_registry_events* events, void* data) {
    pw_registry_add_listener(registry, hook, events, data);
}

inline void* registryBind(struct pw_registry* registry, std::uint32_t id, const char* type,
                          std::uint32_t version) {
    return pw_registry_bind(registry, id, type, version, 0);
}

inline void metadataAddListener(struct pw_metadata* metadata, struct spa_hook* hook,
                                const struct pw_metadata_events* events, void* data) {
    pw_metadata_add_listener(metadata, hook, events, data);
}

inline int metadataSetProperty(struct pw_metadata* metadata, std::uint32_t subject, const char* key,
                               const char* type, const char* value) {
    return pw_metadata_set_property(metadata, subject, key, type, value);
}

inline struct spa_source* loopAddTimer(struct pw_loop* loop, spa_source_timer_func_t func,
                                       void* data) {
    return pw_loop_add_timer(loop, func, data);
}

inline int loopUpdateTimer(struct pw_loop* loop, struct spa_source* source,
                           struct timespec* value) {
    return pw_loop_update_timer(loop, source, value, nullptr, false);
}

inline void loopDestroySource(struct pw_loop* loop, struct spa_source* source) {
    pw_loop_destroy_source(loop, source);
}

#pragma GCC diagnostic ignored "-Wpedantic"

// Suspends a node: it stops and drops its configured format, as the session manager does with
// idle nodes.
inline int nodeSuspend(struct pw_proxy* node) {
    struct spa_command command = SPA_NODE_COMMAND_INIT(SPA_NODE_COMMAND_Suspend);
    return pw_node_send_command(reinterpret_cast<struct pw_node*>(node), &command);
}

#pragma GCC diagnostic pop

} // namespace brindell::pwcall
