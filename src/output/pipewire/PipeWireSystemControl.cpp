#include "output/pipewire/PipeWireSystemControl.h"

#include "audio/pipewire/PipeWireGraph.h"
#include "audio/pipewire/PipeWireHardware.h"
#include "output/pipewire/ControlCalls.h"
#include "output/pipewire/MasterVolume.h"
#include "output/pipewire/VolumePods.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <map>
#include <mutex>
#include <spa/param/param.h>

namespace brindell {

using mastervolume::Control;
using mastervolume::MixerProps;
using mastervolume::Route;

namespace {

constexpr const char* defaultSinkKey = "default.audio.sink";
constexpr const char* configuredSinkKey = "default.configured.audio.sink";

// A device's params come from the process that runs it (WirePlumber, for sound cards), so they
// can follow the server's answer to a round trip: this long is waited for them at most.
constexpr double lateParamWait = 0.3;
// How long the constructor waits for the session manager's metadata once the graph is in.
constexpr double metadataWait = 1.0;

std::string_view prop(const GraphMirror::Properties& props, std::string_view key) {
    auto it = props.find(key);
    return it == props.end() ? std::string_view{} : std::string_view{it->second};
}

template <typename Int> std::optional<Int> parseInt(std::string_view text) {
    Int value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// One node or device bound by this connection, for its parameters. Made, used and destroyed with
// the loop lock held; its events arrive on the loop thread, which holds the lock too.
class Binding {
public:
    enum class Kind { node, device };

    // onParam: a watch, called for every parameter event; without it the parameters are
    // collected for reading.
    Binding(PipeWireGraph& graph, Kind kind, std::uint32_t id, std::function<void()> onParam = {})
        : graph_(graph), kind_(kind), id_(id), onParam_(std::move(onParam)) {
        const bool node = kind == Kind::node;
        proxy_ = graph.bindGlobal(id, node ? PW_TYPE_INTERFACE_Node : PW_TYPE_INTERFACE_Device,
                                  node ? PW_VERSION_NODE : PW_VERSION_DEVICE);
        if (proxy_ == nullptr) {
            return;
        }
        static const struct pw_proxy_events proxyEvents = {
            .version = PW_VERSION_PROXY_EVENTS,
            .destroy = &Binding::onDestroy,
            .bound = nullptr,
            .removed = &Binding::onRemoved,
            .done = nullptr,
            .error = &Binding::onError,
        };
        static const struct pw_node_events nodeEvents = {.version = PW_VERSION_NODE_EVENTS,
                                                         .info = &Binding::nodeInfo,
                                                         .param = &Binding::param};
        static const struct pw_device_events deviceEvents = {.version = PW_VERSION_DEVICE_EVENTS,
                                                             .info = &Binding::deviceInfo,
                                                             .param = &Binding::param};
        pw_proxy_add_listener(proxy_, &proxyHook_, &proxyEvents, this);
        pw_proxy_add_object_listener(proxy_, &objectHook_,
                                     node ? static_cast<const void*>(&nodeEvents)
                                          : static_cast<const void*>(&deviceEvents),
                                     this);
    }

    ~Binding() {
        if (proxy_ != nullptr) {
            spa_hook_remove(&objectHook_);
            spa_hook_remove(&proxyHook_);
            pw_proxy_destroy(proxy_);
        }
    }

    Binding(const Binding&) = delete;
    Binding& operator=(const Binding&) = delete;

    bool valid() const { return proxy_ != nullptr && !removed_; }
    std::uint32_t id() const { return id_; }
    int error() const { return error_; }
    const std::vector<MixerProps>& props() const { return props_; }
    const std::vector<Route>& routes() const { return routes_; }

    // Whether the object's info lists the parameter as writable; none before its info came.
    std::optional<bool> writable(std::uint32_t param) const {
        if (!infoSeen_) {
            return std::nullopt;
        }
        auto it = paramFlags_.find(param);
        return it != paramFlags_.end() && (it->second & SPA_PARAM_INFO_WRITE) != 0;
    }

    int enumParams(std::uint32_t param) {
        if (!valid()) {
            return -ENOENT;
        }
        return kind_ == Kind::node ? controlcall::nodeEnumParams(proxy_, param)
                                   : controlcall::deviceEnumParams(proxy_, param);
    }

    int subscribe(std::uint32_t param) {
        if (!valid()) {
            return -ENOENT;
        }
        return kind_ == Kind::node ? controlcall::nodeSubscribeParams(proxy_, param)
                                   : controlcall::deviceSubscribeParams(proxy_, param);
    }

    int setParam(std::uint32_t param, const struct spa_pod* pod) {
        if (!valid()) {
            return -ENOENT;
        }
        return kind_ == Kind::node ? controlcall::nodeSetParam(proxy_, param, pod)
                                   : controlcall::deviceSetParam(proxy_, param, pod);
    }

private:
    static void onDestroy(void* data) {
        auto* self = static_cast<Binding*>(data);
        spa_hook_remove(&self->objectHook_);
        spa_hook_remove(&self->proxyHook_);
        self->proxy_ = nullptr;
        self->removed_ = true;
        self->graph_.signal();
    }
    static void onRemoved(void* data) {
        auto* self = static_cast<Binding*>(data);
        self->removed_ = true;
        self->graph_.signal();
    }
    static void onError(void* data, int /*seq*/, int res, const char* /*message*/) {
        auto* self = static_cast<Binding*>(data);
        if (self->error_ == 0) {
            self->error_ = res < 0 ? res : -EIO;
        }
        self->graph_.signal();
    }
    void takeInfo(std::uint32_t count, const struct spa_param_info* params) {
        infoSeen_ = true;
        for (std::uint32_t i = 0; i < count && params != nullptr; ++i) {
            paramFlags_[params[i].id] = params[i].flags;
        }
    }
    static void nodeInfo(void* data, const struct pw_node_info* info) {
        if ((info->change_mask & PW_NODE_CHANGE_MASK_PARAMS) != 0) {
            static_cast<Binding*>(data)->takeInfo(info->n_params, info->params);
        }
    }
    static void deviceInfo(void* data, const struct pw_device_info* info) {
        if ((info->change_mask & PW_DEVICE_CHANGE_MASK_PARAMS) != 0) {
            static_cast<Binding*>(data)->takeInfo(info->n_params, info->params);
        }
    }
    static void param(void* data, int /*seq*/, std::uint32_t id, std::uint32_t /*index*/,
                      std::uint32_t /*next*/, const struct spa_pod* pod) {
        auto* self = static_cast<Binding*>(data);
        if (self->onParam_) {
            self->onParam_();
            return;
        }
        if (id == SPA_PARAM_Props) {
            if (auto props = mastervolume::parseProps(pod)) {
                self->props_.push_back(std::move(*props));
            }
        } else if (id == SPA_PARAM_Route) {
            if (auto route = mastervolume::parseRoute(pod)) {
                self->routes_.push_back(std::move(*route));
            }
        }
        self->graph_.signal();
    }

    PipeWireGraph& graph_;
    const Kind kind_;
    const std::uint32_t id_;
    const std::function<void()> onParam_;
    struct pw_proxy* proxy_ = nullptr;
    struct spa_hook proxyHook_ {};
    struct spa_hook objectHook_ {};
    bool removed_ = false;
    int error_ = 0;
    bool infoSeen_ = false;
    std::map<std::uint32_t, std::uint32_t> paramFlags_;
    std::vector<MixerProps> props_;
    std::vector<Route> routes_;
};

// What the graph says about a device node.
struct Target {
    std::uint32_t node = 0;
    std::optional<std::uint32_t> device;       // its device object, when it has one
    std::optional<std::int32_t> profileDevice; // its index among the device's routes
    std::string outputDevice;                  // a per-app sink's device, else empty
    bool isSink = false;
    bool isPerAppSink = false;
};

std::optional<Target> targetFrom(const GraphMirror& m, std::uint32_t id, const std::string& uid) {
    const GraphMirror::Object* node = m.find(id);
    if (node == nullptr || node->kind != GraphMirror::Kind::node || !m.isDevice(id) ||
        prop(node->props, "node.name") != uid) {
        return std::nullopt;
    }
    Target target;
    target.node = id;
    if (auto device = parseInt<std::uint32_t>(prop(node->props, "device.id"))) {
        const GraphMirror::Object* object = m.find(*device);
        if (object != nullptr && object->kind == GraphMirror::Kind::device) {
            target.device = device;
            target.profileDevice = parseInt<std::int32_t>(prop(node->props, "card.profile.device"));
        }
    }
    target.isPerAppSink = m.isPerAppSink(id);
    if (target.isPerAppSink) {
        target.outputDevice = std::string(prop(node->props, perAppSinkOutputKey));
    }
    target.isSink = prop(node->props, "media.class").substr(0, 10) == "Audio/Sink";
    return target;
}

} // namespace

struct PipeWireSystemControl::Impl {
    explicit Impl(DeviceLookup deviceLookup, Options opts)
        : options(std::move(opts)), lookup(std::move(deviceLookup)) {}

    const Options options;
    const DeviceLookup lookup;

    std::recursive_mutex callbackMutex; // held while the callback runs
    ChangeCallback onChange;

    // Loop-lock state: the watched UID and the bindings that watch it; the device nodes known,
    // with their names, so that their removal and renaming can be told.
    std::optional<std::string> observedUID;
    std::unique_ptr<Binding> nodeWatch;
    std::unique_ptr<Binding> deviceWatch;
    std::map<std::uint32_t, std::string> devices;

    // Last, so that it is built after and destroyed before everything its events reach.
    std::shared_ptr<PipeWireGraph> graph;
    std::uint64_t handler = 0;

    // --- loop thread (or lock held) ---------------------------------------------------------
    void onGraphChange(const GraphChange& change);
    void fireChange();
    void watchObserved(std::optional<std::uint32_t> hint = std::nullopt);
    void dropWatches();

    // --- control side -----------------------------------------------------------------------
    std::optional<Target> resolve(const std::string& uid);
    Control readControl(const Target& target); // lock held
    void write(const Target& target, const Control& control, const MixerProps& change,
               const char* operation); // lock held
    bool inLoopThread() const { return graph->inLoopThread(); }
};

// =============================================================================================
// Loop thread

void PipeWireSystemControl::Impl::fireChange() {
    std::lock_guard lock(callbackMutex);
    // A copy: the callback may replace itself.
    const ChangeCallback callback = onChange;
    if (callback) {
        callback();
    }
}

void PipeWireSystemControl::Impl::onGraphChange(const GraphChange& change) {
    bool changed = false;
    auto deviceName = [&](std::uint32_t id) -> std::optional<std::string> {
        return graph->read([&](const GraphMirror& m) -> std::optional<std::string> {
            if (!m.isDevice(id)) {
                return std::nullopt;
            }
            return std::string(prop(m.find(id)->props, "node.description"));
        });
    };
    switch (change.what) {
    case GraphChange::What::added:
    case GraphChange::What::info:
        if (change.kind == GraphMirror::Kind::node) {
            // A node's info can make it a device (its media class), or rename it.
            if (auto name = deviceName(change.id)) {
                auto known = devices.find(change.id);
                changed = known == devices.end() || known->second != *name || change.failedChanged;
                devices[change.id] = *name;
            }
            if (observedUID && !nodeWatch) {
                watchObserved();
            }
        }
        break;
    case GraphChange::What::removed:
        changed = devices.erase(change.id) > 0;
        if ((nodeWatch && nodeWatch->id() == change.id) ||
            (deviceWatch && deviceWatch->id() == change.id)) {
            // Watched again when a device of that UID comes back.
            dropWatches();
        }
        break;
    case GraphChange::What::metadata:
        changed = change.subject == 0 && (change.key == defaultSinkKey || change.key.empty());
        break;
    case GraphChange::What::connected:
        watchObserved();
        changed = true;
        break;
    case GraphChange::What::metadataBound:
    case GraphChange::What::metadataLost:
        changed = true;
        break;
    case GraphChange::What::disconnected:
        // Before the connection goes: its proxies must not outlive it.
        dropWatches();
        devices.clear();
        changed = true;
        break;
    case GraphChange::What::timer:
        break;
    }
    if (changed) {
        fireChange();
    }
}

void PipeWireSystemControl::Impl::dropWatches() {
    nodeWatch.reset();
    deviceWatch.reset();
}

void PipeWireSystemControl::Impl::watchObserved(std::optional<std::uint32_t> hint) {
    if (!observedUID || nodeWatch) {
        return;
    }
    const auto target = graph->read([&](const GraphMirror& m) -> std::optional<Target> {
        if (hint) {
            if (auto t = targetFrom(m, *hint, *observedUID)) {
                return t;
            }
        }
        auto id = m.deviceID(*observedUID);
        return id ? targetFrom(m, *id, *observedUID) : std::nullopt;
    });
    if (!target) {
        return;
    }
    // The watches only report; the reader asks for the values.
    auto report = [this] { fireChange(); };
    nodeWatch = std::make_unique<Binding>(*graph, Binding::Kind::node, target->node, report);
    if (nodeWatch->subscribe(SPA_PARAM_Props) < 0) {
        nodeWatch.reset();
        return;
    }
    if (target->device) {
        deviceWatch =
            std::make_unique<Binding>(*graph, Binding::Kind::device, *target->device, report);
        if (deviceWatch->subscribe(SPA_PARAM_Route) < 0) {
            deviceWatch.reset(); // the node's own watch still reports what it can
        }
    }
}

// =============================================================================================
// Control side

std::optional<Target> PipeWireSystemControl::Impl::resolve(const std::string& uid) {
    if (uid.empty()) {
        return std::nullopt;
    }
    const std::optional<AudioObjectID> hint = lookup ? lookup(uid) : std::nullopt;
    auto attempt = [&] {
        return graph->read([&](const GraphMirror& m) -> std::optional<Target> {
            // The adapter's id, when this connection's view agrees that it names the UID.
            if (hint) {
                if (auto t = targetFrom(m, *hint, uid)) {
                    return t;
                }
            }
            auto id = m.deviceID(uid);
            return id ? targetFrom(m, *id, uid) : std::nullopt;
        });
    };
    auto target = attempt();
    if (!target && hint) {
        // The adapter knows it, this connection not yet: let the registry catch up once.
        PipeWireGraph::Lock lock(*graph);
        graph->roundTrip(options.timeout);
        target = attempt();
    }
    return target;
}

Control PipeWireSystemControl::Impl::readControl(const Target& target) {
    std::vector<Route> routes;
    bool routeWritable = false;
    if (target.device && target.profileDevice) {
        Binding device(*graph, Binding::Kind::device, *target.device);
        if (device.enumParams(SPA_PARAM_Route) >= 0 && graph->roundTrip(options.timeout) == 0) {
            auto applies = [&] {
                return mastervolume::routeApplies(target.profileDevice, device.routes(),
                                                  device.writable(SPA_PARAM_Route).value_or(true));
            };
            if (!applies()) {
                graph->waitFor([&] { return applies() || !device.valid() || device.error() != 0; },
                               lateParamWait);
            }
            routes = device.routes();
            routeWritable = device.writable(SPA_PARAM_Route).value_or(true);
        }
    }
    if (mastervolume::routeApplies(target.profileDevice, routes, routeWritable)) {
        return mastervolume::chooseControl(target.profileDevice, routes, routeWritable, {}, false);
    }
    Binding node(*graph, Binding::Kind::node, target.node);
    if (node.enumParams(SPA_PARAM_Props) < 0 || graph->roundTrip(options.timeout) != 0) {
        return {};
    }
    return mastervolume::chooseControl(target.profileDevice, routes, routeWritable, node.props(),
                                       node.writable(SPA_PARAM_Props).value_or(true));
}

void PipeWireSystemControl::Impl::write(const Target& target, const Control& control,
                                        const MixerProps& change, const char* operation) {
    const bool onRoute = control.where == Control::Where::route && target.device;
    const mastervolume::PodBuffer pod =
        onRoute ? mastervolume::buildRoute(control.routeIndex, control.routeDevice, change)
                : mastervolume::buildProps(change);
    if (pod.empty()) {
        throw AudioHardwareError::status(operation, -ENOSPC);
    }
    Binding binding(*graph, onRoute ? Binding::Kind::device : Binding::Kind::node,
                    onRoute ? *target.device : target.node);
    if (!binding.valid()) {
        const int error = graph->connectionError();
        throw AudioHardwareError::status(operation, error != 0 ? error : -ENOENT);
    }
    if (int res = binding.setParam(onRoute ? SPA_PARAM_Route : SPA_PARAM_Props, pod.pod());
        res < 0) {
        throw AudioHardwareError::status(operation, res);
    }
    // The server reports a refused write to the proxy before it answers the round trip.
    if (int res = graph->roundTrip(options.timeout); res < 0) {
        throw AudioHardwareError::status(operation, res);
    }
    if (binding.error() != 0) {
        throw AudioHardwareError::status(operation, binding.error());
    }
}

// =============================================================================================
// PipeWireSystemControl

std::shared_ptr<PipeWireSystemControl>
PipeWireSystemControl::create(std::shared_ptr<PipeWireHardware> hardware) {
    return create(std::move(hardware), Options{});
}

std::shared_ptr<PipeWireSystemControl>
PipeWireSystemControl::create(std::shared_ptr<PipeWireHardware> hardware, Options options) {
    std::weak_ptr<PipeWireHardware> weakHardware = hardware;
    DeviceLookup lookup = [weakHardware](const std::string& uid) -> std::optional<AudioObjectID> {
        const auto target = weakHardware.lock();
        return target ? target->deviceID(uid) : std::nullopt;
    };
    return std::make_shared<PipeWireSystemControl>(std::move(lookup), std::move(options));
}

PipeWireSystemControl::PipeWireSystemControl(DeviceLookup lookup, Options options)
    : impl_(std::make_unique<Impl>(std::move(lookup), std::move(options))) {
    Impl* impl = impl_.get();
    impl->handler = joinGraph(impl->graph, impl->options.graph, impl->options.remote,
                              [impl](const GraphChange& change) { impl->onGraphChange(change); });
    PipeWireGraph::Lock lock(*impl->graph);
    // Without a server, or on a shared connection not started yet, there is nothing to wait for.
    impl->graph->waitUntilSettled(impl->options.timeout, metadataWait);
}

PipeWireSystemControl::~PipeWireSystemControl() {
    {
        std::lock_guard lock(impl_->callbackMutex);
        impl_->onChange = nullptr;
    }
    {
        PipeWireGraph::Lock lock(*impl_->graph);
        impl_->observedUID.reset();
        impl_->dropWatches();
    }
    leaveGraph(impl_->graph, impl_->handler);
}

void PipeWireSystemControl::setOnChange(ChangeCallback callback) {
    std::lock_guard lock(impl_->callbackMutex);
    impl_->onChange = std::move(callback);
}

std::string PipeWireSystemControl::defaultOutputUID() {
    static constexpr const char* operation = "DefaultOutputDevice";
    Impl& impl = *impl_;
    {
        PipeWireGraph::Lock lock(*impl.graph);
        if (int error = impl.graph->connectionError(); error != 0) {
            throw AudioHardwareError::status(operation, error);
        }
    }
    auto uid = impl.graph->read([](const GraphMirror& m) -> std::optional<std::string> {
        auto name = m.defaultSinkName();
        return name && m.deviceID(*name) ? name : std::nullopt;
    });
    if (!uid) {
        throw AudioHardwareError::noSuchObject();
    }
    return *uid;
}

void PipeWireSystemControl::setDefaultOutput(const std::string& uid) {
    static constexpr const char* operation = "SetDefaultOutput";
    Impl& impl = *impl_;
    if (impl.inLoopThread()) {
        throw AudioHardwareError::status(operation, -EDEADLK);
    }
    const auto target = impl.resolve(uid);
    // A per-app sink as default would route every other app through one app's gain.
    if (!target || !target->isSink || target->isPerAppSink) {
        throw AudioHardwareError::noSuchObject();
    }
    PipeWireGraph::Lock lock(*impl.graph);
    if (int error = impl.graph->connectionError(); error != 0) {
        throw AudioHardwareError::status(operation, error);
    }
    // The user's choice, as the desktop's own tools write it: the session manager makes it the
    // default and remembers it.
    const std::string value = nodeNameValue(uid);
    if (int res = impl.graph->setMetadata(0, configuredSinkKey, "Spa:String:JSON", value.c_str());
        res < 0) {
        throw AudioHardwareError::status(operation, res);
    }
    if (int res = impl.graph->roundTrip(impl.options.timeout); res < 0) {
        throw AudioHardwareError::status(operation, res);
    }
    impl.graph->waitFor(
        [&] {
            return impl.graph->read([&](const GraphMirror& m) {
                return m.defaultSinkName() == std::optional<std::string>(uid);
            });
        },
        impl.options.defaultFollowTimeout);
}

std::string PipeWireSystemControl::mainDeviceUID(const std::string& uid) {
    if (impl_->inLoopThread()) {
        return uid;
    }
    const auto target = impl_->resolve(uid);
    if (target && !target->outputDevice.empty()) {
        return target->outputDevice;
    }
    return uid;
}

std::optional<float> PipeWireSystemControl::volume(const std::string& uid) {
    Impl& impl = *impl_;
    if (impl.inLoopThread()) {
        return std::nullopt;
    }
    const auto target = impl.resolve(uid);
    if (!target) {
        return std::nullopt;
    }
    PipeWireGraph::Lock lock(*impl.graph);
    const Control control = impl.readControl(*target);
    if (control.where == Control::Where::none || !control.props.hasVolume()) {
        return std::nullopt;
    }
    return mastervolume::displayVolume(*control.props.channelVolumes);
}

void PipeWireSystemControl::setVolume(const std::string& uid, float value) {
    static constexpr const char* operation = "SetVolume";
    Impl& impl = *impl_;
    if (impl.inLoopThread()) {
        throw AudioHardwareError::status(operation, -EDEADLK);
    }
    const auto target = impl.resolve(uid);
    if (!target) {
        throw AudioHardwareError::noSuchObject();
    }
    PipeWireGraph::Lock lock(*impl.graph);
    const Control control = impl.readControl(*target);
    if (control.where == Control::Where::none || !control.props.hasVolume()) {
        throw AudioHardwareError::noSuchObject(); // no software volume
    }
    // Every channel at the one level, as the master slider has one.
    MixerProps change;
    change.channelVolumes =
        std::vector<float>(control.props.channelVolumes->size(), mastervolume::linearVolume(value));
    impl.write(*target, control, change, operation);
}

std::optional<bool> PipeWireSystemControl::isMuted(const std::string& uid) {
    Impl& impl = *impl_;
    if (impl.inLoopThread()) {
        return std::nullopt;
    }
    const auto target = impl.resolve(uid);
    if (!target) {
        return std::nullopt;
    }
    PipeWireGraph::Lock lock(*impl.graph);
    const Control control = impl.readControl(*target);
    if (control.where == Control::Where::none) {
        return std::nullopt;
    }
    return control.props.mute;
}

void PipeWireSystemControl::setMuted(const std::string& uid, bool muted) {
    static constexpr const char* operation = "SetMute";
    Impl& impl = *impl_;
    if (impl.inLoopThread()) {
        throw AudioHardwareError::status(operation, -EDEADLK);
    }
    const auto target = impl.resolve(uid);
    if (!target) {
        throw AudioHardwareError::noSuchObject();
    }
    PipeWireGraph::Lock lock(*impl.graph);
    // Where the mute lives; a sink without one gets the write on its node, which the server
    // refuses or ignores.
    Control control = impl.readControl(*target);
    MixerProps change;
    change.mute = muted;
    impl.write(*target, control, change, operation);
}

void PipeWireSystemControl::observeDevice(const std::optional<std::string>& uid) {
    Impl& impl = *impl_;
    std::optional<AudioObjectID> hint;
    if (uid && impl.lookup && !impl.inLoopThread()) {
        hint = impl.lookup(*uid);
    }
    PipeWireGraph::Lock lock(*impl.graph);
    impl.dropWatches();
    impl.observedUID = uid && !uid->empty() ? uid : std::nullopt;
    impl.watchObserved(hint);
}

void PipeWireSystemControl::stopObservingDevice() {
    PipeWireGraph::Lock lock(*impl_->graph);
    impl_->observedUID.reset();
    impl_->dropWatches();
}

bool PipeWireSystemControl::isConnected() const {
    PipeWireGraph::Lock lock(*impl_->graph);
    return impl_->graph->isSettled() && impl_->graph->connectionError() == 0;
}

std::optional<std::string> PipeWireSystemControl::observedUID() const {
    PipeWireGraph::Lock lock(*impl_->graph);
    return impl_->observedUID;
}

} // namespace brindell
