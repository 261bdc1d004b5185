#pragma once

// Internal to the PipeWire system control. PipeWire's method macros expand to C casts; these
// wrappers keep them in one place, so the rest is compiled with the full warning set.

#include <pipewire/pipewire.h>

namespace brindell::controlcall {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wuseless-cast"
#pragma GCC diagnostic ignored "-Wcast-align"
#pragma GCC diagnostic ignored "-Wnull-dereference"
#pragma GCC diagnostic ignored "-Wpedantic"

inline int nodeEnumParams(struct pw_proxy* node, std::uint32_t param) {
    return pw_node_enum_params(reinterpret_cast<struct pw_node*>(node), 0, param, 0, UINT32_MAX,
                               nullptr);
}

inline int nodeSubscribeParams(struct pw_proxy* node, std::uint32_t param) {
    std::uint32_t ids[] = {param};
    return pw_node_subscribe_params(reinterpret_cast<struct pw_node*>(node), ids, 1);
}

inline int nodeSetParam(struct pw_proxy* node, std::uint32_t param, const struct spa_pod* pod) {
    return pw_node_set_param(reinterpret_cast<struct pw_node*>(node), param, 0, pod);
}

inline int deviceEnumParams(struct pw_proxy* device, std::uint32_t param) {
    return pw_device_enum_params(reinterpret_cast<struct pw_device*>(device), 0, param, 0,
                                 UINT32_MAX, nullptr);
}

inline int deviceSubscribeParams(struct pw_proxy* device, std::uint32_t param) {
    std::uint32_t ids[] = {param};
    return pw_device_subscribe_params(reinterpret_cast<struct pw_device*>(device), ids, 1);
}

inline int deviceSetParam(struct pw_proxy* device, std::uint32_t param, const struct spa_pod* pod) {
    return pw_device_set_param(reinterpret_cast<struct pw_device*>(device), param, 0, pod);
}

#pragma GCC diagnostic pop

} // namespace brindell::controlcall
