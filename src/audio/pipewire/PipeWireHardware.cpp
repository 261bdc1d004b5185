#include "audio/pipewire/PipeWireHardware.h"

#include "audio/pipewire/IONode.h"
#include "audio/pipewire/PipeWireGraph.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <map>
#include <set>
#include <unistd.h>

namespace brindell {

namespace {

// Taps are the adapter's own records; their ids sit above the process objects'.
constexpr AudioObjectID firstTapID = firstAdapterObjectID + (1u << 23);

constexpr const char* targetObjectKey = "target.object";
constexpr const char* targetNodeKey = "target.node";
constexpr const char* defaultSinkKey = "default.audio.sink";
constexpr const char* configuredSinkKey = "default.configured.audio.sink";

// How long after a restarted session manager appears our links wait for it to link something.
constexpr double sessionManagerGrace = 5.0;

bool startsWith(std::string_view text, std::string_view prefix) {
    return !prefix.empty() && text.substr(0, prefix.size()) == prefix;
}

// Which of the per-app sink's two input channels a stream channel feeds when the tap links it
// beside the stream's own route: the same side, both for centre and mono, none for the LFE.
std::vector<std::string> tapChannelsFor(const std::string& channel, std::size_t portIndex) {
    if (channel == "FL" || channel == "FR") {
        return {channel};
    }
    if (channel == "MONO" || channel == "FC" || channel == "RC" || channel == "TC") {
        return {"FL", "FR"};
    }
    if (channel == "LFE") {
        return {};
    }
    if (!channel.empty() && channel.back() == 'L') {
        return {"FL"};
    }
    if (!channel.empty() && channel.back() == 'R') {
        return {"FR"};
    }
    return {portIndex % 2 == 0 ? "FL" : "FR"}; // unpositioned (AUX) channels alternate
}

[[noreturn]] void throwStatus(const char* operation, int code) {
    throw AudioHardwareError::status(operation, code);
}

} // namespace

struct PipeWireHardware::Impl {
    struct Tap {
        AudioObjectID id = 0;
        std::string uid;
        std::string name;
        pid_type pid = 0;
        bool muted = false;
        AudioObjectID aggregate = 0; // the per-app sink reading it, 0 while none does

        // Muted: the streams moved to the sink, with the targets of their own: from before the
        // move, or set by another program since.
        struct Prior {
            std::optional<GraphMirror::MetadataEntry> object;
            std::optional<GraphMirror::MetadataEntry> node;
        };
        std::map<std::uint32_t, Prior> moved;
        // Unmuted: the links from the streams' ports to the sink, beside their own route.
        LinkSet links;
    };

    struct Aggregate {
        AudioObjectID id = 0;
        std::uint64_t serial = 0; // ids are reused at once; the serial tells the sink apart
        AggregateSpec request;
        std::unique_ptr<OwnedProxy> proxy;
    };

    struct Procedure {
        AudioObjectID aggregate = 0;
        std::shared_ptr<IONode> node;
    };

    explicit Impl(Options opts) : options(std::move(opts)) {}

    // Everything below the options is touched with the loop lock held, except the procedure
    // table (procedureMutex) and the callback (callbackMutex).
    const Options options;
    std::map<AudioObjectID, Tap> taps;
    std::map<AudioObjectID, Aggregate> aggregates;
    AudioObjectID nextTapID = firstTapID;
    std::string lastRealDefault;
    // The node.names of every per-app sink this connection made: a move naming one of them is
    // undone by deactivate, never stale.
    std::set<std::string> ownSinkNames;
    // While the session manager is away our links are dropped, and they come back only once it
    // has taken charge of the graph again (see holdLinksForSessionManager).
    bool holdLinks = false;

    std::mutex procedureMutex;
    std::map<std::uint64_t, Procedure> procedures;
    std::uint64_t nextToken = 1;

    mutable std::mutex callbackMutex;
    DeviceChangeCallback onDeviceChange;
    // Set on the loop thread as the connection comes and goes; read without the loop lock.
    std::atomic<bool> reachable{false};

    // Last, so that it is built after and destroyed before everything its events reach.
    std::shared_ptr<PipeWireGraph> graph;
    std::uint64_t handler = 0;

    // --- loop thread ------------------------------------------------------------------------
    void onGraphChange(const GraphChange& change);
    void fireDeviceChange();
    void reconcileTaps();
    void reconcileProcedures();
    void reconcileMoved(Tap& tap, const Aggregate& aggregate,
                        const std::vector<std::uint32_t>& streams);
    void reconcileLinks(Tap& tap, std::uint32_t sink, const std::vector<std::uint32_t>& streams);
    void deactivate(Tap& tap);
    void keepStoredTarget(std::uint32_t stream, const Tap::Prior& prior);
    void storeTargetNode(std::uint32_t stream, const GraphMirror::MetadataEntry& node);
    void followTarget(std::uint32_t stream, const std::string& key);
    std::optional<std::string> routedSink(const GraphMirror& mirror, std::uint32_t stream) const;
    void guardDefault();
    void sweepStaleTargets();
    void dropConnectionObjects();
    void holdLinksForSessionManager();
    void releaseLinks();
    bool isSessionManagerLink(const GraphMirror& mirror, std::uint32_t link) const;
    bool isOwnIONode(const GraphMirror& mirror, std::uint32_t node) const;
    bool isBrindellSinkName(const GraphMirror& mirror, const std::string& name) const;

    // --- control side -----------------------------------------------------------------------
    Tap* tapByUID(const std::string& uid);
    void ensureNotLoopThread(const char* operation) const;
};

// =============================================================================================
// Loop thread: graph changes

void PipeWireHardware::Impl::onGraphChange(const GraphChange& change) {
    bool devicesChanged = false;
    switch (change.what) {
    case GraphChange::What::added:
        if (change.kind == GraphMirror::Kind::node) {
            devicesChanged =
                graph->read([&](const GraphMirror& m) { return m.isDevice(change.id); });
        }
        if (change.kind == GraphMirror::Kind::link && holdLinks && graph->hasDefaultMetadata() &&
            graph->read([&](const GraphMirror& m) { return isSessionManagerLink(m, change.id); })) {
            // It links again, so it has set up every node it found: ours may join now.
            releaseLinks();
        }
        if (change.kind == GraphMirror::Kind::node || change.kind == GraphMirror::Kind::port) {
            reconcileTaps();
            reconcileProcedures();
        }
        break;
    case GraphChange::What::removed:
        // The mirror no longer knows what it was; a node could have been a device.
        devicesChanged = change.kind == GraphMirror::Kind::node;
        if (change.kind == GraphMirror::Kind::node || change.kind == GraphMirror::Kind::port ||
            change.kind == GraphMirror::Kind::link) {
            reconcileTaps();
            reconcileProcedures();
        }
        break;
    case GraphChange::What::info:
        if (change.kind == GraphMirror::Kind::node) {
            devicesChanged = change.failedChanged && graph->read([&](const GraphMirror& m) {
                return m.isDevice(change.id);
            });
        }
        // A stream's owner can become known only with its full properties.
        if (change.kind == GraphMirror::Kind::node || change.kind == GraphMirror::Kind::client) {
            reconcileTaps();
        }
        break;
    case GraphChange::What::metadata:
        if (change.subject == 0 && change.key == defaultSinkKey) {
            devicesChanged = true;
        }
        if (change.subject == 0 && (change.key == defaultSinkKey ||
                                    change.key == configuredSinkKey || change.key.empty())) {
            guardDefault();
        }
        if (change.subject != 0 && change.key == targetObjectKey && graph->isSettled()) {
            sweepStaleTargets();
        }
        if (change.subject != 0 && (change.key == targetObjectKey || change.key == targetNodeKey)) {
            followTarget(change.subject, change.key);
            // Where a stream is routed decides where its app's tapped sound goes.
            devicesChanged =
                graph->read([&](const GraphMirror& m) { return m.isOutputStream(change.subject); });
        }
        break;
    case GraphChange::What::metadataBound:
        // A (restarted) session manager: our moves went with the metadata it dropped (forgotten
        // when it went) and are made again now.
        sweepStaleTargets();
        guardDefault();
        reconcileTaps();
        if (holdLinks) {
            // Should it link nothing (no stream plays), do not wait for it for ever.
            graph->armTimer(sessionManagerGrace);
        }
        devicesChanged = true;
        break;
    case GraphChange::What::metadataLost:
        holdLinksForSessionManager();
        devicesChanged = true;
        break;
    case GraphChange::What::timer:
        if (holdLinks && graph->hasDefaultMetadata()) {
            releaseLinks();
        }
        break;
    case GraphChange::What::connected:
        reachable = true;
        devicesChanged = true;
        break;
    case GraphChange::What::disconnected:
        reachable = false;
        dropConnectionObjects();
        devicesChanged = true;
        break;
    }
    if (devicesChanged) {
        fireDeviceChange();
    }
}

void PipeWireHardware::Impl::fireDeviceChange() {
    DeviceChangeCallback callback;
    {
        std::lock_guard lock(callbackMutex);
        callback = onDeviceChange;
    }
    if (callback) {
        callback();
    }
}

void PipeWireHardware::Impl::dropConnectionObjects() {
    // The server dropped every object of the old connection; drop our proxies before the core
    // goes, and keep the records so that callers' handles still resolve.
    {
        std::lock_guard lock(procedureMutex);
        for (auto& [token, procedure] : procedures) {
            procedure.node->destroy();
        }
    }
    for (auto& [id, aggregate] : aggregates) {
        aggregate.proxy.reset();
    }
    for (auto& [id, tap] : taps) {
        tap.links.clear();
        tap.moved.clear();
    }
}

void PipeWireHardware::Impl::holdLinksForSessionManager() {
    // WirePlumber (0.4) sets the format of every device node when it starts, and waits for ever
    // on a node that is busy or still holds a format: it then links nothing at all. So when it
    // goes, our links go too, and the sinks we made or played to are suspended, as it would have
    // done itself with idle nodes (a device others still link to is left alone). The moves went
    // with its metadata.
    holdLinks = true;
    std::set<std::string> devices;
    for (auto& [id, tap] : taps) {
        tap.moved.clear();
        tap.links.clear();
    }
    {
        std::lock_guard lock(procedureMutex);
        for (auto& [token, procedure] : procedures) {
            procedure.node->dropLinks();
            devices.insert(procedure.node->deviceUID());
        }
    }
    std::set<std::uint32_t> suspend;
    for (const auto& [id, aggregate] : aggregates) {
        if (aggregate.proxy) {
            suspend.insert(id);
        }
    }
    graph->read([&](const GraphMirror& m) {
        std::set<std::uint32_t> ours = suspend;
        std::vector<std::uint32_t> deviceIDs;
        for (const auto& uid : devices) {
            if (auto id = m.deviceID(uid)) {
                deviceIDs.push_back(*id);
            }
        }
        const auto links = m.links();
        for (std::uint32_t device : deviceIDs) {
            const bool othersUseIt =
                std::any_of(links.begin(), links.end(), [&](const GraphMirror::Link& link) {
                    if (link.inputNode != device && link.outputNode != device) {
                        return false;
                    }
                    const std::uint32_t peer =
                        link.inputNode == device ? link.outputNode : link.inputNode;
                    return !ours.contains(peer) && !isOwnIONode(m, peer) &&
                           !isSessionManagerLink(m, link.id);
                });
            if (!othersUseIt) {
                suspend.insert(device);
            }
        }
        return 0;
    });
    for (std::uint32_t node : suspend) {
        graph->suspendNode(node);
    }
}

void PipeWireHardware::Impl::releaseLinks() {
    holdLinks = false;
    reconcileTaps();
    reconcileProcedures();
    graph->signal();
}

bool PipeWireHardware::Impl::isSessionManagerLink(const GraphMirror& m, std::uint32_t link) const {
    const auto* object = m.find(link);
    if (object == nullptr) {
        return false;
    }
    auto clientID = object->props.find("client.id");
    if (clientID == object->props.end()) {
        return false;
    }
    std::uint32_t id = 0;
    const std::string& text = clientID->second;
    if (std::from_chars(text.data(), text.data() + text.size(), id).ec != std::errc{}) {
        return false;
    }
    const auto* client = m.find(id);
    if (client == nullptr || client->kind != GraphMirror::Kind::client) {
        return false;
    }
    auto name = client->props.find("application.name");
    return name != client->props.end() && startsWith(name->second, "WirePlumber");
}

bool PipeWireHardware::Impl::isOwnIONode(const GraphMirror& m, std::uint32_t node) const {
    const auto* object = m.find(node);
    if (object == nullptr) {
        return false;
    }
    auto name = object->props.find("node.name");
    return name != object->props.end() && startsWith(name->second, options.ownNamePrefix);
}

void PipeWireHardware::Impl::reconcileTaps() {
    for (auto& [id, tap] : taps) {
        auto aggregate = aggregates.find(tap.aggregate);
        if (tap.aggregate == 0 || aggregate == aggregates.end() || !aggregate->second.proxy) {
            continue;
        }
        const auto streams =
            graph->read([&](const GraphMirror& m) { return m.outputStreams(tap.pid); });
        if (tap.muted) {
            reconcileMoved(tap, aggregate->second, streams);
        } else {
            reconcileLinks(tap, aggregate->second.id, streams);
        }
    }
}

void PipeWireHardware::Impl::reconcileProcedures() {
    if (holdLinks) {
        return;
    }
    std::lock_guard lock(procedureMutex);
    for (auto& [token, procedure] : procedures) {
        procedure.node->reconcile();
    }
}

void PipeWireHardware::Impl::reconcileMoved(Tap& tap, const Aggregate& aggregate,
                                            const std::vector<std::uint32_t>& streams) {
    std::erase_if(tap.moved, [&](const auto& entry) {
        return std::find(streams.begin(), streams.end(), entry.first) == streams.end();
    });
    for (std::uint32_t stream : streams) {
        if (tap.moved.contains(stream)) {
            continue;
        }
        Tap::Prior prior = graph->read([&](const GraphMirror& m) {
            Tap::Prior p{m.metadata(stream, targetObjectKey), m.metadata(stream, targetNodeKey)};
            // A move of ours is no target of the stream's own to go back to.
            if (p.object && startsWith(p.object->value, options.ownNamePrefix)) {
                p.object.reset();
            }
            return p;
        });
        // The sink's node.name, not its serial: WirePlumber's restore-stream remembers a target
        // only when it can resolve it as a serial, so it never stores a Brindell sink.
        if (graph->setMetadata(stream, targetObjectKey, "Spa:String",
                               aggregate.request.uid.c_str()) == 0) {
            keepStoredTarget(stream, prior);
            tap.moved[stream] = std::move(prior);
        }
    }
}

void PipeWireHardware::Impl::reconcileLinks(Tap& tap, std::uint32_t sink,
                                            const std::vector<std::uint32_t>& streams) {
    if (holdLinks) {
        return;
    }
    std::vector<LinkSet::Link> wanted;
    graph->read([&](const GraphMirror& m) {
        std::map<std::string, std::uint32_t> sinkInputs;
        for (const auto& port : m.ports(sink)) {
            if (!port.output && !port.monitor) {
                sinkInputs[port.channel] = port.id;
            }
        }
        for (std::uint32_t stream : streams) {
            std::size_t index = 0;
            for (const auto& port : m.ports(stream)) {
                if (!port.output || port.monitor) {
                    continue;
                }
                for (const std::string& channel : tapChannelsFor(port.channel, index)) {
                    if (auto input = sinkInputs.find(channel); input != sinkInputs.end()) {
                        wanted.push_back({stream, port.id, sink, input->second});
                    }
                }
                ++index;
            }
        }
        return 0;
    });
    tap.links.reconcile(*graph, wanted);
}

void PipeWireHardware::Impl::keepStoredTarget(std::uint32_t stream, const Tap::Prior& prior) {
    // Our move made restore-stream forget the target it keeps for the app (the user's choice in
    // another mixer). target.node names that choice again: restore-stream stores it, while
    // WirePlumber routes by target.object, our move, as long as that is set. So the app keeps
    // its choice should it quit, or we be killed, before the move is undone.
    if (prior.node) {
        storeTargetNode(stream, *prior.node);
        return;
    }
    const auto id = graph->read([&](const GraphMirror& m) -> std::optional<std::uint32_t> {
        const auto sink = m.routedSink(stream, prior.object, std::nullopt);
        return sink ? m.deviceID(*sink) : std::nullopt;
    });
    if (prior.object && id) {
        storeTargetNode(stream, {stream, targetNodeKey, "Spa:Id", std::to_string(*id)});
    }
}

void PipeWireHardware::Impl::storeTargetNode(std::uint32_t stream,
                                             const GraphMirror::MetadataEntry& node) {
    // Writing the value a key already has changes nothing, and nobody hears of it: restore-stream
    // only stores a target that changes. So it goes and comes back.
    graph->setMetadata(stream, targetNodeKey, nullptr, nullptr);
    graph->setMetadata(stream, targetNodeKey, node.type.c_str(), node.value.c_str());
}

void PipeWireHardware::Impl::followTarget(std::uint32_t stream, const std::string& key) {
    const auto entry = graph->read([&](const GraphMirror& m) { return m.metadata(stream, key); });
    if (key == targetObjectKey && entry && startsWith(entry->value, options.ownNamePrefix)) {
        return; // a move of ours
    }
    for (auto& [id, tap] : taps) {
        auto moved = tap.moved.find(stream);
        auto aggregate = aggregates.find(tap.aggregate);
        if (moved == tap.moved.end() || aggregate == aggregates.end()) {
            continue;
        }
        // Another program (a mixer, the session manager) chose where the stream goes: that is
        // its own target from now on, to report and to go back to.
        if (key == targetNodeKey) {
            if (entry) { // a removal is our own, on its way back (storeTargetNode)
                moved->second.node = entry;
            }
            continue;
        }
        moved->second.object = entry;
        // It took the stream out of the per-app sink: back in, the sound goes on to the new
        // choice once the session follows it.
        graph->setMetadata(stream, targetObjectKey, "Spa:String",
                           aggregate->second.request.uid.c_str());
        keepStoredTarget(stream, moved->second);
    }
}

std::optional<std::string> PipeWireHardware::Impl::routedSink(const GraphMirror& m,
                                                              std::uint32_t stream) const {
    for (const auto& [id, tap] : taps) {
        if (auto moved = tap.moved.find(stream); moved != tap.moved.end()) {
            return m.routedSink(stream, moved->second.object, moved->second.node);
        }
    }
    auto object = m.metadata(stream, targetObjectKey);
    if (object && startsWith(object->value, options.ownNamePrefix)) {
        object.reset(); // a move of ours, being undone or left by a killed run
    }
    return m.routedSink(stream, object, m.metadata(stream, targetNodeKey));
}

void PipeWireHardware::Impl::deactivate(Tap& tap) {
    tap.links.clear();
    for (auto& [stream, prior] : tap.moved) {
        // Put the stream's own target back. Removing target.object makes restore-stream forget
        // the app's target; storing target.node after it makes it remember again.
        if (prior.object) {
            graph->setMetadata(stream, targetObjectKey, prior.object->type.c_str(),
                               prior.object->value.c_str());
        } else {
            graph->setMetadata(stream, targetObjectKey, nullptr, nullptr);
            if (prior.node) {
                storeTargetNode(stream, *prior.node);
            }
        }
    }
    tap.moved.clear();
}

bool PipeWireHardware::Impl::isBrindellSinkName(const GraphMirror& mirror,
                                                const std::string& name) const {
    if (startsWith(name, options.ownNamePrefix)) {
        return true;
    }
    auto node = mirror.nodeByName(name);
    return node && mirror.isPerAppSink(*node);
}

void PipeWireHardware::Impl::guardDefault() {
    struct Decision {
        bool fixDefault = false;
        bool fixConfigured = false;
        std::optional<std::string> fallback;
    };
    const Decision decision = graph->read([&](const GraphMirror& m) {
        Decision d;
        if (auto name = m.defaultSinkName()) {
            if (isBrindellSinkName(m, *name)) {
                d.fixDefault = true;
            } else {
                lastRealDefault = *name;
            }
        }
        if (auto configured = m.configuredSinkName()) {
            d.fixConfigured = isBrindellSinkName(m, *configured);
        }
        if (d.fixDefault || d.fixConfigured) {
            if (!lastRealDefault.empty() && m.isDeviceAlive(lastRealDefault) &&
                !isBrindellSinkName(m, lastRealDefault)) {
                d.fallback = lastRealDefault;
            } else {
                d.fallback = m.preferredSink();
            }
        }
        return d;
    });
    // A per-app sink as default would route every other app through one app's gain.
    if (decision.fixDefault) {
        if (decision.fallback) {
            graph->setMetadata(0, defaultSinkKey, "Spa:String:JSON",
                               nodeNameValue(*decision.fallback).c_str());
        } else {
            graph->setMetadata(0, defaultSinkKey, nullptr, nullptr);
        }
    }
    // Someone chose a per-app sink. WirePlumber also ranks the sinks chosen before, so only a new
    // choice outranks this one: the real sink that was the default before it.
    if (decision.fixConfigured) {
        if (decision.fallback) {
            graph->setMetadata(0, configuredSinkKey, "Spa:String:JSON",
                               nodeNameValue(*decision.fallback).c_str());
        } else {
            graph->setMetadata(0, configuredSinkKey, nullptr, nullptr);
        }
    }
}

void PipeWireHardware::Impl::sweepStaleTargets() {
    // Moves of a run that ended without teardown (a crash) still name its vanished sinks.
    struct Stale {
        std::uint32_t subject;
        std::optional<GraphMirror::MetadataEntry> node;
    };
    const auto stale = graph->read([&](const GraphMirror& m) {
        std::vector<Stale> result;
        for (const auto& entry : m.metadataEntries()) {
            if (entry.subject != 0 && entry.key == targetObjectKey &&
                startsWith(entry.value, options.ownNamePrefix) && !m.nodeByName(entry.value) &&
                !ownSinkNames.contains(entry.value)) {
                result.push_back({entry.subject, m.metadata(entry.subject, targetNodeKey)});
            }
        }
        return result;
    });
    for (const Stale& entry : stale) {
        graph->setMetadata(entry.subject, targetObjectKey, nullptr, nullptr);
        if (entry.node) {
            storeTargetNode(entry.subject, *entry.node);
        }
    }
}

// =============================================================================================
// Control side

PipeWireHardware::Impl::Tap* PipeWireHardware::Impl::tapByUID(const std::string& uid) {
    for (auto& [id, tap] : taps) {
        if (tap.uid == uid) {
            return &tap;
        }
    }
    return nullptr;
}

void PipeWireHardware::Impl::ensureNotLoopThread(const char* operation) const {
    // Waiting for the server on its own loop thread would wait forever.
    if (graph->inLoopThread()) {
        throw AudioHardwareError::status(operation, -EDEADLK);
    }
}

std::shared_ptr<PipeWireGraph> makeSharedGraph(std::string remote) {
    return std::make_shared<PipeWireGraph>(std::move(remote));
}

void startSharedGraph(PipeWireGraph& graph, double timeout) {
    graph.start();
    PipeWireGraph::Lock lock(graph);
    graph.waitUntilSettled(timeout, 1.0);
}

PipeWireHardware::PipeWireHardware() : PipeWireHardware(Options{}) {}

PipeWireHardware::PipeWireHardware(Options options)
    : impl_(std::make_unique<Impl>(std::move(options))) {
    Impl* impl = impl_.get();
    impl->handler = joinGraph(impl->graph, impl->options.graph, impl->options.remote,
                              [impl](const GraphChange& change) { impl->onGraphChange(change); });
    PipeWireGraph::Lock lock(*impl->graph);
    // Without a server there is nothing to wait for: it is tried again in the background.
    impl->graph->waitFor([&] { return impl->graph->core() == nullptr || impl->graph->isSettled(); },
                         impl->options.timeout);
}

PipeWireHardware::~PipeWireHardware() {
    Impl& impl = *impl_;
    {
        std::lock_guard lock(impl.callbackMutex);
        impl.onDeviceChange = nullptr;
    }
    {
        PipeWireGraph::Lock lock(*impl.graph);
        {
            std::lock_guard procedures(impl.procedureMutex);
            impl.procedures.clear();
        }
        for (auto& [id, tap] : impl.taps) {
            impl.deactivate(tap);
        }
        impl.taps.clear();
        impl.aggregates.clear();
        // Let the restored metadata and the removals reach the server before the connection
        // closes, or while a shared one goes on without them.
        if (!impl.graph->inLoopThread()) {
            impl.graph->roundTrip(impl.options.timeout);
        }
    }
    leaveGraph(impl.graph, impl.handler);
}

void PipeWireHardware::setOnDeviceChange(DeviceChangeCallback callback) {
    std::lock_guard lock(impl_->callbackMutex);
    impl_->onDeviceChange = std::move(callback);
}

AudioHardware::DeviceChangeCallback PipeWireHardware::onDeviceChange() const {
    std::lock_guard lock(impl_->callbackMutex);
    return impl_->onDeviceChange;
}

TapHandle PipeWireHardware::createTap(AudioObjectID processObject, const std::string& name,
                                      bool muted) {
    Impl& impl = *impl_;
    PipeWireGraph::Lock lock(*impl.graph);
    if (int error = impl.graph->connectionError(); error != 0) {
        throw AudioHardwareError::status("CreateProcessTap", error);
    }
    const auto pid =
        impl.graph->read([&](const GraphMirror& m) { return m.pidOfProcessObject(processObject); });
    if (!pid) {
        throw AudioHardwareError::status("CreateProcessTap", -ESRCH);
    }
    Impl::Tap tap;
    tap.id = impl.nextTapID++;
    tap.uid = "brindell-tap-" + std::to_string(::getpid()) + "-" + std::to_string(tap.id);
    tap.name = name;
    tap.pid = *pid;
    tap.muted = muted;
    TapHandle handle{tap.id, tap.uid};
    impl.taps.emplace(tap.id, std::move(tap));
    return handle;
}

void PipeWireHardware::destroyTap(AudioObjectID tapID) {
    Impl& impl = *impl_;
    PipeWireGraph::Lock lock(*impl.graph);
    auto it = impl.taps.find(tapID);
    if (it == impl.taps.end()) {
        throw AudioHardwareError::status("DestroyProcessTap", -ENOENT);
    }
    impl.deactivate(it->second);
    impl.taps.erase(it);
    if (!impl.graph->inLoopThread()) {
        impl.graph->roundTrip(impl.options.timeout);
    }
}

AudioObjectID PipeWireHardware::createAggregate(const AggregateSpec& request) {
    Impl& impl = *impl_;
    static constexpr const char* operation = "CreateAggregateDevice";
    impl.ensureNotLoopThread(operation);
    PipeWireGraph::Lock lock(*impl.graph);
    if (int error = impl.graph->connectionError(); error != 0) {
        throwStatus(operation, error);
    }
    Impl::Tap* tap = impl.tapByUID(request.tapUID);
    if (tap == nullptr) {
        throwStatus(operation, -ENOENT);
    }
    if (tap->aggregate != 0) {
        throwStatus(operation, -EBUSY);
    }
    if (tap->muted && !impl.graph->hasDefaultMetadata()) {
        throwStatus(operation, -ENOENT); // no session manager to move the streams
    }
    const int check = impl.graph->read([&](const GraphMirror& m) {
        auto device = m.deviceID(request.outputDeviceUID);
        if (!device) {
            return -ENODEV;
        }
        if (m.isPerAppSink(*device)) {
            return -EINVAL; // a per-app sink feeding itself
        }
        return m.nodeByName(request.uid) ? -EEXIST : 0;
    });
    if (check != 0) {
        throwStatus(operation, check);
    }

    // Other mixers list the sink: it carries the app's name.
    const std::string description = impl.graph->read([&](const GraphMirror& m) {
        for (const auto& process : m.audioProcesses()) {
            if (process.pid == tap->pid && process.applicationName) {
                return *process.applicationName + " (Brindell)";
            }
        }
        return request.name;
    });

    // device.routes: WirePlumber's restore-stream keeps no volume state for nodes with routes,
    // so no per-app sink (a fresh name each build) piles up in its state file.
    const struct spa_dict_item items[] = {
        {"factory.name", "support.null-audio-sink"},
        {PW_KEY_MEDIA_CLASS, "Audio/Sink"},
        {PW_KEY_NODE_NAME, request.uid.c_str()},
        {PW_KEY_NODE_DESCRIPTION, description.c_str()},
        {perAppSinkNameKey, request.name.c_str()},
        {"audio.position", "FL,FR"},
        {PW_KEY_PRIORITY_SESSION, "0"},
        {PW_KEY_PRIORITY_DRIVER, "1"},
        {PW_KEY_NODE_VIRTUAL, "true"},
        {"monitor.channel-volumes", "false"},
        {"device.routes", "1"},
        {PW_KEY_OBJECT_LINGER, "false"},
        {perAppSinkMarker, "true"},
        {perAppSinkOutputKey, request.outputDeviceUID.c_str()},
    };
    const struct spa_dict dict = {0, static_cast<std::uint32_t>(std::size(items)), items};
    auto proxy =
        impl.graph->createObject("adapter", PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, &dict);
    if (!proxy) {
        throwStatus(operation, -ENOMEM);
    }
    // Ready once the session manager has configured its ports: two inputs, two monitors.
    const bool ready = impl.graph->waitFor(
        [&] {
            if (proxy->error() != 0 || proxy->removed() || impl.graph->core() == nullptr) {
                return true;
            }
            if (proxy->globalID() == SPA_ID_INVALID) {
                return false;
            }
            return impl.graph->read([&](const GraphMirror& m) {
                std::size_t inputs = 0;
                std::size_t monitors = 0;
                for (const auto& port : m.ports(proxy->globalID())) {
                    inputs += (!port.output && !port.monitor) ? 1 : 0;
                    monitors += (port.output && port.monitor) ? 1 : 0;
                }
                return inputs >= 2 && monitors >= 2;
            });
        },
        impl.options.timeout);
    if (proxy->error() != 0) {
        throwStatus(operation, proxy->error());
    }
    if (impl.graph->core() == nullptr || proxy->removed()) {
        throwStatus(operation,
                    impl.graph->connectionError() != 0 ? impl.graph->connectionError() : -EPIPE);
    }
    if (!ready) {
        throwStatus(operation, -ETIMEDOUT);
    }

    const AudioObjectID id = proxy->globalID();
    const std::uint64_t serial = impl.graph->read([&](const GraphMirror& m) {
        const auto* node = m.find(id);
        return node != nullptr ? node->serial : 0;
    });
    impl.aggregates[id] = Impl::Aggregate{id, serial, request, std::move(proxy)};
    impl.ownSinkNames.insert(request.uid);
    tap->aggregate = id;
    impl.reconcileTaps();
    if (int res = impl.graph->roundTrip(impl.options.timeout); res < 0) {
        impl.deactivate(*tap);
        tap->aggregate = 0;
        impl.aggregates.erase(id);
        throwStatus(operation, res);
    }
    return id;
}

void PipeWireHardware::destroyAggregate(AudioObjectID aggregateID) {
    Impl& impl = *impl_;
    static constexpr const char* operation = "DestroyAggregateDevice";
    impl.ensureNotLoopThread(operation);
    PipeWireGraph::Lock lock(*impl.graph);
    auto it = impl.aggregates.find(aggregateID);
    if (it == impl.aggregates.end()) {
        throw AudioHardwareError::status(operation, -ENOENT);
    }
    if (Impl::Tap* tap = impl.tapByUID(it->second.request.tapUID);
        tap != nullptr && tap->aggregate == aggregateID) {
        // Streams go back to their own route before the sink they play into goes away.
        impl.deactivate(*tap);
        tap->aggregate = 0;
    }
    const bool existed = it->second.proxy != nullptr;
    const std::uint64_t serial = it->second.serial;
    impl.aggregates.erase(it);
    if (!existed) {
        return; // it went with an earlier connection
    }
    const bool gone = impl.graph->waitFor(
        [&] {
            return impl.graph->core() == nullptr || impl.graph->read([&](const GraphMirror& m) {
                const auto* node = m.find(aggregateID);
                return node == nullptr || node->serial != serial;
            });
        },
        impl.options.timeout);
    if (!gone) {
        throw AudioHardwareError::status(operation, -ETIMEDOUT);
    }
}

IOHandle PipeWireHardware::startIO(AudioObjectID aggregateID, IOBlock block) {
    Impl& impl = *impl_;
    impl.ensureNotLoopThread("CreateIOProcIDWithBlock");
    PipeWireGraph::Lock lock(*impl.graph);
    auto it = impl.aggregates.find(aggregateID);
    if (it == impl.aggregates.end()) {
        throw AudioHardwareError::status("CreateIOProcIDWithBlock", -ENOENT);
    }
    if (!it->second.proxy) {
        throw AudioHardwareError::status("CreateIOProcIDWithBlock", -ENOTCONN);
    }
    const Impl::Aggregate& aggregate = it->second;
    // Not while the session manager sets the graph up after a restart (see holdLinks).
    if (!impl.graph->waitFor([&] { return !impl.holdLinks; }, impl.options.timeout)) {
        throwStatus("AudioDeviceStart", -EAGAIN);
    }

    struct Plan {
        std::vector<std::string> inputs;
        std::vector<std::string> outputs;
        bool device = false;
    };
    const auto plan = impl.graph->read([&](const GraphMirror& m) {
        Plan p;
        for (const auto& port : m.ports(aggregateID)) {
            if (port.output && port.monitor) {
                p.inputs.push_back(port.channel);
            }
        }
        if (auto device = m.deviceID(aggregate.request.outputDeviceUID)) {
            p.device = true;
            for (const auto& port : m.ports(*device)) {
                if (!port.output && !port.monitor && !port.channel.empty()) {
                    p.outputs.push_back(port.channel);
                }
            }
        }
        return p;
    });
    if (plan.inputs.empty()) {
        throwStatus("CreateIOProcIDWithBlock", -ENOENT);
    }

    auto node = std::make_shared<IONode>(*impl.graph, aggregate.request.uid + ".io",
                                         aggregate.request.name + " IO", plan.inputs, plan.outputs,
                                         std::move(block));
    if (int res = node->create(); res < 0) {
        node->destroy();
        throwStatus("CreateIOProcIDWithBlock", res);
    }
    node->setRoute(aggregateID, aggregate.request.outputDeviceUID);
    int started = !plan.device || plan.outputs.empty() ? -ENODEV : 0;
    if (started == 0) {
        started = node->waitUntilReady(impl.options.timeout);
    }
    if (started == 0) {
        started = node->waitUntilLinked(impl.options.timeout);
    }
    if (started < 0) {
        node->destroy();
        throwStatus("AudioDeviceStart", started);
    }

    std::lock_guard procedures(impl.procedureMutex);
    const std::uint64_t token = impl.nextToken++;
    impl.procedures[token] = Impl::Procedure{aggregateID, std::move(node)};
    return IOHandle{aggregateID, token};
}

void PipeWireHardware::stopIO(const IOHandle& handle) {
    Impl& impl = *impl_;
    std::shared_ptr<IONode> node;
    {
        std::lock_guard procedures(impl.procedureMutex);
        auto it = impl.procedures.find(handle.token);
        if (it == impl.procedures.end()) {
            throw AudioHardwareError::noSuchObject();
        }
        node = std::move(it->second.node);
        impl.procedures.erase(it);
    }
    int stopped = 0;
    int destroyed = 0;
    {
        PipeWireGraph::Lock lock(*impl.graph);
        stopped = node->stop();
        // The links go, and the server has answered, before the filter does: its answers to a
        // filter already destroyed keep their file descriptors open in this process (about one
        // eventfd every second session without the round trip).
        node->dropLinks();
        if (!impl.graph->inLoopThread()) {
            impl.graph->roundTrip(impl.options.timeout);
        }
        destroyed = node->destroy();
        node.reset();
        if (!impl.graph->inLoopThread()) {
            impl.graph->roundTrip(impl.options.timeout);
        }
    }
    if (stopped < 0) {
        throw AudioHardwareError::status("AudioDeviceStop", stopped);
    }
    if (destroyed < 0) {
        throw AudioHardwareError::status("AudioDeviceDestroyIOProcID", destroyed);
    }
}

AudioObjectID PipeWireHardware::processObject(pid_type pid) {
    Impl& impl = *impl_;
    std::optional<AudioObjectID> id;
    {
        PipeWireGraph::Lock lock(*impl.graph);
        if (int error = impl.graph->connectionError(); error != 0) {
            throw AudioHardwareError::status("TranslatePIDToProcessObject", error);
        }
    }
    id = impl.graph->read([&](const GraphMirror& m) { return m.processObject(pid); });
    if (!id) {
        throw AudioHardwareError::noSuchObject();
    }
    return *id;
}

std::string PipeWireHardware::defaultOutputDeviceUID() {
    Impl& impl = *impl_;
    PipeWireGraph::Lock lock(*impl.graph);
    if (int error = impl.graph->connectionError(); error != 0) {
        throw AudioHardwareError::status("DefaultOutputDevice", error);
    }
    auto uid = impl.graph->read([&](const GraphMirror& m) -> std::optional<std::string> {
        auto name = m.defaultSinkName();
        if (!name) {
            return std::nullopt;
        }
        if (!impl.isBrindellSinkName(m, *name)) {
            return name;
        }
        // Until the guard's correction is in, report the real default from before.
        if (!impl.lastRealDefault.empty() && m.deviceID(impl.lastRealDefault)) {
            return impl.lastRealDefault;
        }
        return std::nullopt;
    });
    if (!uid) {
        throw AudioHardwareError::noSuchObject();
    }
    return *uid;
}

std::optional<std::string> PipeWireHardware::routedOutputDeviceUID(AudioObjectID processObject) {
    Impl& impl = *impl_;
    PipeWireGraph::Lock lock(*impl.graph); // the taps' records
    return impl.graph->read([&](const GraphMirror& m) -> std::optional<std::string> {
        const auto pid = m.pidOfProcessObject(processObject);
        if (!pid) {
            return std::nullopt;
        }
        for (const std::uint32_t stream : m.outputStreams(*pid)) {
            if (auto sink = impl.routedSink(m, stream)) {
                return sink;
            }
        }
        return std::nullopt;
    });
}

std::vector<AudioDeviceInfo> PipeWireHardware::outputDevices() {
    Impl& impl = *impl_;
    {
        PipeWireGraph::Lock lock(*impl.graph);
        if (int error = impl.graph->connectionError(); error != 0) {
            throw AudioHardwareError::status("list size", error);
        }
    }
    return impl.graph->read([](const GraphMirror& m) { return m.devices(); });
}

bool PipeWireHardware::isDeviceAlive(const std::string& uid) {
    return impl_->graph->read([&](const GraphMirror& m) { return m.isDeviceAlive(uid); });
}

std::vector<TapListEntry> PipeWireHardware::listTaps() {
    Impl& impl = *impl_;
    PipeWireGraph::Lock lock(*impl.graph);
    std::vector<TapListEntry> result;
    for (const auto& [id, tap] : impl.taps) {
        result.push_back({id, tap.name});
    }
    return result;
}

std::optional<AudioObjectID> PipeWireHardware::deviceID(const std::string& uid) const {
    return impl_->graph->read([&](const GraphMirror& m) { return m.deviceID(uid); });
}

std::vector<pid_type> PipeWireHardware::playingProcesses() const {
    return impl_->graph->read([](const GraphMirror& m) { return m.playingProcesses(); });
}

bool PipeWireHardware::isServerReachable() const {
    return impl_->reachable.load();
}

bool PipeWireHardware::isConnected() const {
    PipeWireGraph::Lock lock(*impl_->graph);
    return impl_->graph->isSettled() && impl_->graph->connectionError() == 0;
}

std::size_t PipeWireHardware::proxyCount() const {
    PipeWireGraph::Lock lock(*impl_->graph);
    return impl_->graph->proxyCount();
}

} // namespace brindell
