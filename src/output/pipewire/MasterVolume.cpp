#include "output/pipewire/MasterVolume.h"

#include "audio/Volume.h"

#include <algorithm>
#include <cmath>

namespace brindell::mastervolume {

namespace {

const Route* matchingRoute(std::optional<std::int32_t> profileDevice,
                           const std::vector<Route>& routes) {
    if (!profileDevice) {
        return nullptr;
    }
    for (const Route& route : routes) {
        if (route.device == *profileDevice && route.props && route.props->isComplete()) {
            return &route;
        }
    }
    return nullptr;
}

} // namespace

bool routeApplies(std::optional<std::int32_t> profileDevice, const std::vector<Route>& routes,
                  bool routeWritable) {
    return routeWritable && matchingRoute(profileDevice, routes) != nullptr;
}

Control chooseControl(std::optional<std::int32_t> profileDevice, const std::vector<Route>& routes,
                      bool routeWritable, const std::vector<MixerProps>& nodeProps,
                      bool propsWritable) {
    Control control;
    if (routeWritable) {
        if (const Route* route = matchingRoute(profileDevice, routes)) {
            control.where = Control::Where::route;
            control.routeIndex = route->index;
            control.routeDevice = route->device;
            control.props = *route->props;
            return control;
        }
    }
    if (!propsWritable) {
        return control;
    }
    for (const MixerProps& props : nodeProps) {
        if (props.hasVolume() || props.mute) {
            control.where = Control::Where::node;
            control.props = props;
            return control;
        }
    }
    return control;
}

std::optional<float> displayVolume(const std::vector<float>& linear) {
    if (linear.empty()) {
        return std::nullopt;
    }
    double sum = 0.0;
    for (float value : linear) {
        const double v = std::isnan(value) ? 0.0 : std::max(0.0, static_cast<double>(value));
        sum += std::min(1.0, std::cbrt(v));
    }
    return static_cast<float>(sum / static_cast<double>(linear.size()));
}

float linearVolume(float display) {
    const float v = cleanVolume(display, 0.0f); // nothing in force here: NaN is silence
    return v * v * v;
}

} // namespace brindell::mastervolume
