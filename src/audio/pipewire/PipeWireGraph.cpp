#include "audio/pipewire/PipeWireGraph.h"

#include "audio/pipewire/PipeWireCalls.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <spa/utils/result.h>

namespace brindell {

namespace {

// The server's answers come as C strings that may be missing.
std::string str(const char* text) {
    return text != nullptr ? text : "";
}

std::optional<GraphMirror::Kind> kindOf(const char* type) {
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
        return GraphMirror::Kind::node;
    }
    if (std::strcmp(type, PW_TYPE_INTERFACE_Port) == 0) {
        return GraphMirror::Kind::port;
    }
    if (std::strcmp(type, PW_TYPE_INTERFACE_Link) == 0) {
        return GraphMirror::Kind::link;
    }
    if (std::strcmp(type, PW_TYPE_INTERFACE_Client) == 0) {
        return GraphMirror::Kind::client;
    }
    if (std::strcmp(type, PW_TYPE_INTERFACE_Device) == 0) {
        return GraphMirror::Kind::device;
    }
    return std::nullopt;
}

constexpr double reconnectInterval = 1.0;
constexpr double metadataRebindDelay = 1.0;

struct timespec toTimespec(double seconds) {
    struct timespec ts {};
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>((seconds - std::floor(seconds)) * 1e9);
    if (ts.tv_sec == 0 && ts.tv_nsec == 0) {
        ts.tv_nsec = 1; // zero would disarm the timer
    }
    return ts;
}

std::once_flag initOnce;

} // namespace

GraphMirror::Properties toProperties(const struct spa_dict* dict) {
    GraphMirror::Properties props;
    if (dict == nullptr) {
        return props;
    }
    for (std::uint32_t i = 0; i < dict->n_items; ++i) {
        const struct spa_dict_item& item = dict->items[i];
        if (item.key != nullptr) {
            props[item.key] = str(item.value);
        }
    }
    return props;
}

// ---------------------------------------------------------------------------------------------
// OwnedProxy

OwnedProxy::OwnedProxy(struct pw_proxy* proxy, struct pw_thread_loop* loop)
    : proxy_(proxy), loop_(loop), globalID_(SPA_ID_INVALID) {
    static const struct pw_proxy_events events = {
        .version = PW_VERSION_PROXY_EVENTS,
        .destroy = &OwnedProxy::onDestroy,
        .bound = &OwnedProxy::onBound,
        .removed = &OwnedProxy::onRemoved,
        .done = nullptr,
        .error = &OwnedProxy::onError,
    };
    if (proxy_ != nullptr) {
        pw_proxy_add_listener(proxy_, &hook_, &events, this);
    }
}

OwnedProxy::~OwnedProxy() {
    if (proxy_ != nullptr) {
        spa_hook_remove(&hook_);
        pw_proxy_destroy(proxy_);
    }
}

void OwnedProxy::onDestroy(void* data) {
    auto* self = static_cast<OwnedProxy*>(data);
    spa_hook_remove(&self->hook_);
    self->proxy_ = nullptr;
    self->removed_ = true;
    pw_thread_loop_signal(self->loop_, false);
}

void OwnedProxy::onBound(void* data, std::uint32_t globalID) {
    auto* self = static_cast<OwnedProxy*>(data);
    self->globalID_ = globalID;
    pw_thread_loop_signal(self->loop_, false);
}

void OwnedProxy::onRemoved(void* data) {
    auto* self = static_cast<OwnedProxy*>(data);
    self->removed_ = true;
    pw_thread_loop_signal(self->loop_, false);
}

void OwnedProxy::onError(void* data, int /*seq*/, int res, const char* /*message*/) {
    auto* self = static_cast<OwnedProxy*>(data);
    if (self->error_ == 0) {
        self->error_ = res < 0 ? res : -EIO;
    }
    pw_thread_loop_signal(self->loop_, false);
}

// ---------------------------------------------------------------------------------------------
// LinkSet

void LinkSet::reconcile(PipeWireGraph& graph, const std::vector<Link>& wanted) {
    auto same = [](const Link& a, const Link& b) {
        return a.outputPort == b.outputPort && a.inputPort == b.inputPort;
    };
    std::erase_if(links_, [&](const Held& held) {
        const bool stillWanted = std::any_of(wanted.begin(), wanted.end(),
                                             [&](const Link& w) { return same(w, held.link); });
        return !stillWanted || !held.proxy || held.proxy->removed() || held.proxy->error() != 0;
    });
    for (const Link& w : wanted) {
        if (std::any_of(links_.begin(), links_.end(),
                        [&](const Held& held) { return same(w, held.link); })) {
            continue;
        }
        const std::string values[] = {std::to_string(w.outputNode), std::to_string(w.outputPort),
                                      std::to_string(w.inputNode), std::to_string(w.inputPort)};
        const struct spa_dict_item items[] = {
            {PW_KEY_LINK_OUTPUT_NODE, values[0].c_str()},
            {PW_KEY_LINK_OUTPUT_PORT, values[1].c_str()},
            {PW_KEY_LINK_INPUT_NODE, values[2].c_str()},
            {PW_KEY_LINK_INPUT_PORT, values[3].c_str()},
            // Ours only while we are connected: a crash takes them down with us.
            {PW_KEY_OBJECT_LINGER, "false"},
        };
        const struct spa_dict dict = {0, 5, items};
        if (auto proxy = graph.createObject("link-factory", PW_TYPE_INTERFACE_Link, PW_VERSION_LINK,
                                            &dict)) {
            links_.push_back({w, std::move(proxy)});
        }
    }
}

int LinkSet::waitUntilBound(PipeWireGraph& graph, double seconds) const {
    int error = 0;
    const bool settled = graph.waitFor(
        [&] {
            for (const auto& held : links_) {
                if (held.proxy->error() != 0 || held.proxy->removed()) {
                    error = held.proxy->error() != 0 ? held.proxy->error() : -EPIPE;
                    return true;
                }
                if (held.proxy->globalID() == SPA_ID_INVALID) {
                    return false;
                }
            }
            return true;
        },
        seconds);
    if (error != 0) {
        return error;
    }
    if (!settled) {
        return -ETIMEDOUT;
    }
    // Errors about a link can follow its binding; a round trip lets them arrive.
    if (int res = graph.roundTrip(seconds); res < 0) {
        return res;
    }
    for (const auto& held : links_) {
        if (held.proxy->error() != 0) {
            return held.proxy->error();
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Bound: a node, client or device bound for its full properties and state.

struct PipeWireGraph::Bound {
    PipeWireGraph* graph = nullptr;
    std::uint32_t id = 0;
    GraphMirror::Kind kind = GraphMirror::Kind::node;
    struct pw_proxy* proxy = nullptr;
    struct spa_hook objectHook {};
    struct spa_hook proxyHook {};
    std::optional<bool> failed;

    ~Bound() {
        if (proxy != nullptr) {
            spa_hook_remove(&objectHook);
            spa_hook_remove(&proxyHook);
            pw_proxy_destroy(proxy);
        }
    }

    static void proxyDestroyed(void* data) {
        auto* self = static_cast<Bound*>(data);
        spa_hook_remove(&self->objectHook);
        spa_hook_remove(&self->proxyHook);
        self->proxy = nullptr;
    }
    static void nodeInfo(void* data, const struct pw_node_info* info) {
        auto* self = static_cast<Bound*>(data);
        std::optional<bool> failed;
        std::optional<bool> running;
        if ((info->change_mask & PW_NODE_CHANGE_MASK_STATE) != 0) {
            failed = info->state == PW_NODE_STATE_ERROR;
            running = info->state == PW_NODE_STATE_RUNNING;
        }
        const bool propsChanged = (info->change_mask & PW_NODE_CHANGE_MASK_PROPS) != 0;
        self->graph->onInfo(*self, propsChanged ? info->props : nullptr, failed, running);
    }
    static void clientInfo(void* data, const struct pw_client_info* info) {
        auto* self = static_cast<Bound*>(data);
        if ((info->change_mask & PW_CLIENT_CHANGE_MASK_PROPS) != 0) {
            self->graph->onInfo(*self, info->props, std::nullopt, std::nullopt);
        }
    }
    static void deviceInfo(void* data, const struct pw_device_info* info) {
        auto* self = static_cast<Bound*>(data);
        if ((info->change_mask & PW_DEVICE_CHANGE_MASK_PROPS) != 0) {
            self->graph->onInfo(*self, info->props, std::nullopt, std::nullopt);
        }
    }
};

// ---------------------------------------------------------------------------------------------
// PipeWireGraph

PipeWireGraph::PipeWireGraph(std::string remote, ChangeHandler handler)
    : remote_(std::move(remote)) {
    if (handler) {
        handlers_.emplace_back(nextHandler_++, std::move(handler));
    }
    std::call_once(initOnce, [] { pw_init(nullptr, nullptr); });
    loop_ = pw_thread_loop_new("brindell-pipewire", nullptr);
    if (loop_ == nullptr) {
        connectionError_ = -errno;
        return;
    }
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
    if (context_ == nullptr) {
        connectionError_ = -errno;
        return;
    }
    reconnectSource_ =
        pwcall::loopAddTimer(pw_thread_loop_get_loop(loop_), &PipeWireGraph::reconnectTimer, this);
    ownerTimer_ =
        pwcall::loopAddTimer(pw_thread_loop_get_loop(loop_), &PipeWireGraph::ownerTimer, this);
    rebindSource_ =
        pwcall::loopAddTimer(pw_thread_loop_get_loop(loop_), &PipeWireGraph::rebindTimer, this);
}

void PipeWireGraph::start() {
    if (loop_ == nullptr || context_ == nullptr) {
        return;
    }
    Lock lock(*this);
    if (pw_thread_loop_start(loop_) < 0) {
        connectionError_ = -EIO;
        return;
    }
    connect();
}

PipeWireGraph::~PipeWireGraph() {
    if (loop_ == nullptr) {
        return;
    }
    {
        Lock lock(*this);
        disconnect();
        if (reconnectSource_ != nullptr) {
            pwcall::loopDestroySource(pw_thread_loop_get_loop(loop_), reconnectSource_);
            reconnectSource_ = nullptr;
        }
        for (struct spa_source** source : {&ownerTimer_, &rebindSource_}) {
            if (*source != nullptr) {
                pwcall::loopDestroySource(pw_thread_loop_get_loop(loop_), *source);
                *source = nullptr;
            }
        }
    }
    pw_thread_loop_stop(loop_);
    if (context_ != nullptr) {
        pw_context_destroy(context_);
    }
    pw_thread_loop_destroy(loop_);
}

PipeWireGraph::Lock::Lock(const PipeWireGraph& graph) : loop_(graph.loop_) {
    if (loop_ != nullptr) {
        pw_thread_loop_lock(loop_);
    }
}

PipeWireGraph::Lock::~Lock() {
    if (loop_ != nullptr) {
        pw_thread_loop_unlock(loop_);
    }
}

bool PipeWireGraph::inLoopThread() const {
    return loop_ != nullptr && pw_thread_loop_in_thread(loop_);
}

void PipeWireGraph::signal() {
    if (loop_ != nullptr) {
        pw_thread_loop_signal(loop_, false);
    }
}

bool PipeWireGraph::waitUntilSettled(double seconds, double metadataSeconds) {
    if (!waitFor([this] { return core_ == nullptr || isSettled(); }, seconds) || core_ == nullptr) {
        return false;
    }
    // The session manager's metadata, if it runs, is bound by now; give it a moment to fill in,
    // so that the default output is known on return.
    waitFor([this] { return hasDefaultMetadata() && isSettled(); },
            std::min(metadataSeconds, seconds));
    return true;
}

bool PipeWireGraph::waitFor(const std::function<bool()>& done, double seconds) {
    if (done()) {
        return true;
    }
    if (loop_ == nullptr || inLoopThread()) {
        return false; // the loop thread would wait for itself
    }
    struct timespec deadline {};
    pw_thread_loop_get_time(loop_, &deadline, static_cast<std::int64_t>(seconds * 1e9));
    while (!done()) {
        // PipeWire returns -ETIMEDOUT here; any error ends the wait rather than spinning on it.
        if (pw_thread_loop_timed_wait_full(loop_, &deadline) != 0) {
            return done();
        }
    }
    return true;
}

int PipeWireGraph::roundTrip(double seconds) {
    if (core_ == nullptr) {
        return connectionError_ != 0 ? connectionError_ : -ENOTCONN;
    }
    const int seq = pwcall::coreSync(core_);
    if (seq < 0) {
        return seq;
    }
    // Sequence numbers grow; the server answers syncs in order.
    const bool answered = waitFor(
        [&] { return core_ == nullptr || connectionError_ != 0 || doneSeq_ - seq >= 0; }, seconds);
    if (core_ == nullptr || connectionError_ != 0) {
        return connectionError_ != 0 ? connectionError_ : -ENOTCONN;
    }
    return answered ? 0 : -ETIMEDOUT;
}

std::unique_ptr<OwnedProxy> PipeWireGraph::createObject(const char* factory, const char* type,
                                                        std::uint32_t version,
                                                        const struct spa_dict* props) {
    if (core_ == nullptr) {
        return nullptr;
    }
    auto* proxy = static_cast<struct pw_proxy*>(
        pwcall::coreCreateObject(core_, factory, type, version, props));
    if (proxy == nullptr) {
        return nullptr;
    }
    return std::make_unique<OwnedProxy>(proxy, loop_);
}

int PipeWireGraph::setMetadata(std::uint32_t subject, const char* key, const char* type,
                               const char* value) {
    if (metadata_ == nullptr) {
        return -ENOENT;
    }
    const int res = pwcall::metadataSetProperty(metadata_, subject, key, type, value);
    if (res < 0) {
        return res;
    }
    // Mirror the write at once so lookups right after it see it; the server's echo agrees.
    {
        std::lock_guard lock(mirrorMutex_);
        mirror_.setMetadata(subject, key, str(type),
                            value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
    return 0;
}

int PipeWireGraph::suspendNode(std::uint32_t id) {
    auto it = bound_.find(id);
    if (it == bound_.end() || it->second->kind != GraphMirror::Kind::node ||
        it->second->proxy == nullptr) {
        return -ENOENT;
    }
    return pwcall::nodeSuspend(it->second->proxy);
}

std::size_t PipeWireGraph::proxyCount() const {
    std::size_t count = 0;
    // The core reuses freed ids before it takes new ones, so a bounded scan sees them all.
    for (std::uint32_t id = 0; core_ != nullptr && id < (1u << 16); ++id) {
        count += pw_core_find_proxy(core_, id) != nullptr ? 1u : 0u;
    }
    return count;
}

struct pw_proxy* PipeWireGraph::bindGlobal(std::uint32_t id, const char* type,
                                           std::uint32_t version) {
    if (registry_ == nullptr || core_ == nullptr) {
        return nullptr;
    }
    return static_cast<struct pw_proxy*>(pwcall::registryBind(registry_, id, type, version));
}

void PipeWireGraph::emit(const GraphChange& change) {
    signal();
    // By id: a handler may remove another (or itself) from within its call.
    std::vector<std::uint64_t> ids;
    ids.reserve(handlers_.size());
    for (const auto& entry : handlers_) {
        ids.push_back(entry.first);
    }
    for (const std::uint64_t id : ids) {
        const auto found = std::find_if(handlers_.begin(), handlers_.end(),
                                        [id](const auto& entry) { return entry.first == id; });
        if (found != handlers_.end()) {
            const ChangeHandler handler = found->second;
            handler(change);
        }
    }
}

std::uint64_t joinGraph(std::shared_ptr<PipeWireGraph>& graph,
                        const std::shared_ptr<PipeWireGraph>& shared, const std::string& remote,
                        PipeWireGraph::ChangeHandler handler) {
    graph = shared ? shared : std::make_shared<PipeWireGraph>(remote);
    const std::uint64_t id = graph->addHandler(std::move(handler));
    if (!shared) {
        graph->start();
    }
    return id;
}

void leaveGraph(std::shared_ptr<PipeWireGraph>& graph, std::uint64_t handler) {
    if (graph) {
        graph->removeHandler(handler);
        graph.reset();
    }
}

std::uint64_t PipeWireGraph::addHandler(ChangeHandler handler) {
    Lock lock(*this);
    const std::uint64_t id = nextHandler_++;
    handlers_.emplace_back(id, std::move(handler));
    return id;
}

void PipeWireGraph::removeHandler(std::uint64_t id) {
    Lock lock(*this);
    std::erase_if(handlers_, [id](const auto& entry) { return entry.first == id; });
}

void PipeWireGraph::connect() {
    struct pw_properties* props = pw_properties_new(PW_KEY_APP_NAME, "Brindell", nullptr);
    if (!remote_.empty()) {
        pw_properties_set(props, PW_KEY_REMOTE_NAME, remote_.c_str());
    }
    core_ = pw_context_connect(context_, props, 0);
    if (core_ == nullptr) {
        connectionError_ = errno != 0 ? -errno : -ECONNREFUSED;
        scheduleReconnect();
        return;
    }
    static const struct pw_core_events coreEvents = {
        .version = PW_VERSION_CORE_EVENTS,
        .info = &PipeWireGraph::coreInfo,
        .done = &PipeWireGraph::coreDone,
        .ping = nullptr,
        .error = &PipeWireGraph::coreError,
        .remove_id = nullptr,
        .bound_id = nullptr,
        .add_mem = nullptr,
        .remove_mem = nullptr,
    };
    pwcall::coreAddListener(core_, &coreHook_, &coreEvents, this);
    registry_ = pwcall::coreGetRegistry(core_);
    if (registry_ == nullptr) {
        connectionError_ = -ENOMEM;
        scheduleReconnect();
        return;
    }
    static const struct pw_registry_events registryEvents = {
        .version = PW_VERSION_REGISTRY_EVENTS,
        .global = &PipeWireGraph::registryGlobal,
        .global_remove = &PipeWireGraph::registryGlobalRemove,
    };
    pwcall::registryAddListener(registry_, &registryHook_, &registryEvents, this);
    connectionError_ = 0;
    syncSeq_ = pwcall::coreSync(core_);
}

void PipeWireGraph::disconnect() {
    unbindMetadata();
    metadataID_ = SPA_ID_INVALID;
    restaging_ = false;
    bound_.clear();
    if (registry_ != nullptr) {
        spa_hook_remove(&registryHook_);
        pw_proxy_destroy(reinterpret_cast<struct pw_proxy*>(registry_));
        registry_ = nullptr;
    }
    if (core_ != nullptr) {
        spa_hook_remove(&coreHook_);
        pw_core_disconnect(core_);
        core_ = nullptr;
    }
    {
        std::lock_guard lock(mirrorMutex_);
        mirror_.clear();
    }
    if (connectionError_ == 0) {
        connectionError_ = -ENOTCONN;
    }
    signal();
}

void PipeWireGraph::scheduleReconnect() {
    if (reconnectSource_ == nullptr) {
        return;
    }
    struct timespec value = toTimespec(reconnectInterval);
    pwcall::loopUpdateTimer(pw_thread_loop_get_loop(loop_), reconnectSource_, &value);
}

void PipeWireGraph::armTimer(double seconds) {
    if (ownerTimer_ == nullptr) {
        return;
    }
    struct timespec value = toTimespec(seconds);
    pwcall::loopUpdateTimer(pw_thread_loop_get_loop(loop_), ownerTimer_, &value);
}

void PipeWireGraph::ownerTimer(void* data, std::uint64_t /*expirations*/) {
    GraphChange change;
    change.what = GraphChange::What::timer;
    static_cast<PipeWireGraph*>(data)->emit(change);
}

void PipeWireGraph::reconnectTimer(void* data, std::uint64_t /*expirations*/) {
    auto* self = static_cast<PipeWireGraph*>(data);
    if (self->core_ != nullptr && self->connectionError_ != 0) {
        // The server went away: let the owner drop what lived on it, then start over.
        GraphChange change;
        change.what = GraphChange::What::disconnected;
        self->emit(change);
        self->disconnect();
    }
    if (self->core_ == nullptr) {
        self->connect();
    }
}

void PipeWireGraph::coreInfo(void* data, const struct pw_core_info* info) {
    if (info == nullptr || info->props == nullptr ||
        (info->change_mask & PW_CORE_CHANGE_MASK_PROPS) == 0) {
        return;
    }
    const char* limit = spa_dict_lookup(info->props, "default.clock.quantum-limit");
    char* end = nullptr;
    const unsigned long value = limit != nullptr ? std::strtoul(limit, &end, 10) : 0;
    // Anything odd keeps the default; PipeWire itself accepts no limit above 65536.
    if (end != nullptr && *end == '\0' && value >= 8192 && value <= 65536) {
        static_cast<PipeWireGraph*>(data)->quantumLimit_ = static_cast<std::uint32_t>(value);
    }
}

void PipeWireGraph::coreDone(void* data, std::uint32_t id, int seq) {
    static_cast<PipeWireGraph*>(data)->onCoreDone(id, seq);
}

void PipeWireGraph::onCoreDone(std::uint32_t id, int seq) {
    if (id != PW_ID_CORE) {
        return;
    }
    doneSeq_ = seq;
    if (seq == syncSeq_) {
        syncSeq_ = -1;
        GraphChange change;
        change.what = GraphChange::What::connected;
        emit(change);
    }
    if (seq == metadataSeq_ && restaging_) {
        metadataSeq_ = -1;
        restaging_ = false;
        applyStagedMetadata();
    } else if (seq == metadataSeq_) {
        metadataSeq_ = -1;
        GraphChange change;
        change.what = GraphChange::What::metadataBound;
        emit(change);
    }
    signal();
}

void PipeWireGraph::coreError(void* data, std::uint32_t id, int /*seq*/, int res,
                              const char* /*message*/) {
    static_cast<PipeWireGraph*>(data)->onCoreError(id, 0, res);
}

void PipeWireGraph::onCoreError(std::uint32_t id, int /*seq*/, int res) {
    // Errors about our own objects reach their proxies; only the core's own matter here.
    if (id == PW_ID_CORE && res == -EPIPE) {
        connectionError_ = res;
        // Tearing the core down inside its own callback is not allowed: do it from the timer.
        if (reconnectSource_ != nullptr) {
            struct timespec value = toTimespec(0.0);
            pwcall::loopUpdateTimer(pw_thread_loop_get_loop(loop_), reconnectSource_, &value);
        }
    }
    signal();
}

void PipeWireGraph::registryGlobal(void* data, std::uint32_t id, std::uint32_t /*permissions*/,
                                   const char* type, std::uint32_t version,
                                   const struct spa_dict* props) {
    static_cast<PipeWireGraph*>(data)->onGlobal(id, type, version, props);
}

void PipeWireGraph::registryGlobalRemove(void* data, std::uint32_t id) {
    static_cast<PipeWireGraph*>(data)->onGlobalRemove(id);
}

void PipeWireGraph::onGlobal(std::uint32_t id, const char* type, std::uint32_t version,
                             const struct spa_dict* props) {
    if (type == nullptr) {
        return;
    }
    if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0) {
        const char* name =
            props != nullptr ? spa_dict_lookup(props, PW_KEY_METADATA_NAME) : nullptr;
        if (metadataID_ != SPA_ID_INVALID || name == nullptr || std::strcmp(name, "default") != 0) {
            return;
        }
        metadataID_ = id;
        metadataVersion_ = std::min<std::uint32_t>(version, PW_VERSION_METADATA);
        bindMetadata();
        // A binding made while the session manager is still starting can stop hearing changes
        // (seen now and then with WirePlumber 0.4 after a restart: the server has the change,
        // the binding never hears of it). Fresh bindings over its first seconds make up for it;
        // each one replaces the mirror's entries and reports only what differs.
        rebindStep_ = 0;
        armRebind();
        return;
    }

    auto kind = kindOf(type);
    if (!kind) {
        return;
    }
    {
        std::lock_guard lock(mirrorMutex_);
        mirror_.add(*kind, id, toProperties(props));
    }
    if (*kind == GraphMirror::Kind::node || *kind == GraphMirror::Kind::client ||
        *kind == GraphMirror::Kind::device) {
        auto bound = std::make_unique<Bound>();
        bound->graph = this;
        bound->id = id;
        bound->kind = *kind;
        std::uint32_t bindVersion = PW_VERSION_NODE;
        const void* events = nullptr;
        static const struct pw_node_events nodeEvents = {
            .version = PW_VERSION_NODE_EVENTS, .info = &Bound::nodeInfo, .param = nullptr};
        static const struct pw_client_events clientEvents = {.version = PW_VERSION_CLIENT_EVENTS,
                                                             .info = &Bound::clientInfo,
                                                             .permissions = nullptr};
        static const struct pw_device_events deviceEvents = {
            .version = PW_VERSION_DEVICE_EVENTS, .info = &Bound::deviceInfo, .param = nullptr};
        if (*kind == GraphMirror::Kind::node) {
            events = &nodeEvents;
        } else if (*kind == GraphMirror::Kind::client) {
            bindVersion = PW_VERSION_CLIENT;
            events = &clientEvents;
        } else {
            bindVersion = PW_VERSION_DEVICE;
            events = &deviceEvents;
        }
        bound->proxy = static_cast<struct pw_proxy*>(
            pwcall::registryBind(registry_, id, type, std::min(version, bindVersion)));
        if (bound->proxy != nullptr) {
            pw_proxy_add_object_listener(bound->proxy, &bound->objectHook, events, bound.get());
            static const struct pw_proxy_events proxyEvents = {
                .version = PW_VERSION_PROXY_EVENTS,
                .destroy = &Bound::proxyDestroyed,
                .bound = nullptr,
                .removed = nullptr,
                .done = nullptr,
                .error = nullptr,
            };
            pw_proxy_add_listener(bound->proxy, &bound->proxyHook, &proxyEvents, bound.get());
            bound_[id] = std::move(bound);
        }
    }
    GraphChange change;
    change.what = GraphChange::What::added;
    change.kind = *kind;
    change.id = id;
    emit(change);
}

void PipeWireGraph::bindMetadata() {
    metadata_ = static_cast<struct pw_metadata*>(
        pwcall::registryBind(registry_, metadataID_, PW_TYPE_INTERFACE_Metadata, metadataVersion_));
    if (metadata_ == nullptr) {
        return;
    }
    static const struct pw_metadata_events metadataEvents = {
        .version = PW_VERSION_METADATA_EVENTS,
        .property = &PipeWireGraph::metadataProperty,
    };
    pwcall::metadataAddListener(metadata_, &metadataHook_, &metadataEvents, this);
    static const struct pw_proxy_events proxyEvents = {
        .version = PW_VERSION_PROXY_EVENTS,
        .destroy =
            [](void* data) {
                auto* self = static_cast<PipeWireGraph*>(data);
                spa_hook_remove(&self->metadataHook_);
                spa_hook_remove(&self->metadataProxyHook_);
                self->metadata_ = nullptr;
            },
        .bound = nullptr,
        .removed = nullptr,
        .done = nullptr,
        .error = nullptr,
    };
    pw_proxy_add_listener(reinterpret_cast<struct pw_proxy*>(metadata_), &metadataProxyHook_,
                          &proxyEvents, this);
    // The entries arrive as events after the bind; this round trip marks their end.
    metadataSeq_ = pwcall::coreSync(core_);
}

void PipeWireGraph::unbindMetadata() {
    if (metadata_ == nullptr) {
        return;
    }
    spa_hook_remove(&metadataHook_);
    spa_hook_remove(&metadataProxyHook_);
    pw_proxy_destroy(reinterpret_cast<struct pw_proxy*>(metadata_));
    metadata_ = nullptr;
}

void PipeWireGraph::armRebind() {
    static constexpr double delays[] = {1.0, 2.0, 4.0, 8.0};
    if (rebindSource_ == nullptr || rebindStep_ >= std::size(delays)) {
        return;
    }
    struct timespec value = toTimespec(delays[rebindStep_]);
    pwcall::loopUpdateTimer(pw_thread_loop_get_loop(loop_), rebindSource_, &value);
}

void PipeWireGraph::rebindTimer(void* data, std::uint64_t /*expirations*/) {
    auto* self = static_cast<PipeWireGraph*>(data);
    if (self->metadataID_ == SPA_ID_INVALID || self->core_ == nullptr) {
        return;
    }
    if (self->metadataSeq_ == -1) {
        self->unbindMetadata();
        self->staged_.clear();
        self->restaging_ = true;
        self->bindMetadata();
    }
    ++self->rebindStep_;
    self->armRebind();
}

void PipeWireGraph::applyStagedMetadata() {
    std::vector<std::pair<std::uint32_t, std::string>> changed;
    {
        std::lock_guard lock(mirrorMutex_);
        for (const auto& entry : mirror_.metadataEntries()) {
            auto staged = staged_.find({entry.subject, entry.key});
            if (staged == staged_.end()) {
                mirror_.setMetadata(entry.subject, entry.key, "", std::nullopt);
                changed.emplace_back(entry.subject, entry.key);
            }
        }
        for (const auto& [key, value] : staged_) {
            auto current = mirror_.metadata(key.first, key.second);
            if (!current || current->type != value.first || current->value != value.second) {
                mirror_.setMetadata(key.first, key.second, value.first, value.second);
                changed.emplace_back(key.first, key.second);
            }
        }
    }
    staged_.clear();
    for (const auto& [subject, key] : changed) {
        GraphChange change;
        change.what = GraphChange::What::metadata;
        change.subject = subject;
        change.key = key;
        emit(change);
    }
}

void PipeWireGraph::onGlobalRemove(std::uint32_t id) {
    if (id == metadataID_) {
        unbindMetadata();
        metadataID_ = SPA_ID_INVALID;
        restaging_ = false;
        {
            std::lock_guard lock(mirrorMutex_);
            mirror_.clearMetadata();
        }
        GraphChange change;
        change.what = GraphChange::What::metadataLost;
        emit(change);
        return;
    }
    bound_.erase(id);
    std::optional<GraphMirror::Kind> kind;
    {
        std::lock_guard lock(mirrorMutex_);
        if (const auto* object = mirror_.find(id)) {
            kind = object->kind;
        }
        mirror_.remove(id);
    }
    if (!kind) {
        return;
    }
    GraphChange change;
    change.what = GraphChange::What::removed;
    change.kind = *kind;
    change.id = id;
    emit(change);
}

void PipeWireGraph::onInfo(Bound& bound, const struct spa_dict* props, std::optional<bool> failed,
                           std::optional<bool> running) {
    GraphChange change;
    change.what = GraphChange::What::info;
    change.kind = bound.kind;
    change.id = bound.id;
    {
        std::lock_guard lock(mirrorMutex_);
        if (props != nullptr) {
            mirror_.updateProperties(bound.id, toProperties(props));
        }
        if (running) {
            mirror_.setRunning(bound.id, *running);
        }
        if (failed && failed != bound.failed) {
            change.failedChanged = bound.failed.has_value() || *failed;
            bound.failed = failed;
            mirror_.setFailed(bound.id, *failed);
        }
    }
    emit(change);
}

int PipeWireGraph::metadataProperty(void* data, std::uint32_t subject, const char* key,
                                    const char* type, const char* value) {
    static_cast<PipeWireGraph*>(data)->onMetadataProperty(subject, key, type, value);
    return 0;
}

void PipeWireGraph::onMetadataProperty(std::uint32_t subject, const char* key, const char* type,
                                       const char* value) {
    if (restaging_) {
        if (key == nullptr) {
            std::erase_if(staged_, [subject](const auto& e) { return e.first.first == subject; });
        } else if (value == nullptr) {
            staged_.erase({subject, key});
        } else {
            staged_[{subject, key}] = {str(type), value};
        }
        return;
    }
    {
        std::lock_guard lock(mirrorMutex_);
        mirror_.setMetadata(subject, str(key), str(type),
                            value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
    GraphChange change;
    change.what = GraphChange::What::metadata;
    change.subject = subject;
    change.key = str(key);
    emit(change);
}

} // namespace brindell
