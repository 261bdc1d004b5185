#pragma once

// Internal to the PipeWire adapter: includes PipeWire's headers.

#include "audio/pipewire/GraphMirror.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <pipewire/extensions/metadata.h>
#include <pipewire/pipewire.h>
#include <string>
#include <vector>

namespace brindell {

// What changed in the graph; handed to the owner on the loop thread after the mirror has it.
struct GraphChange {
    enum class What {
        added,         // a global appeared (id, kind)
        removed,       // a global vanished (id, kind)
        info,          // a node's, client's or device's full properties or state arrived
        metadata,      // a property of the "default" metadata changed (subject, key)
        metadataBound, // the "default" metadata object appeared and its entries are in
        metadataLost,  // the "default" metadata object vanished (the session manager quit)
        connected,     // the connection (re)started and the registry is in
        disconnected,  // the connection to the server was lost
        timer,         // the timer set with armTimer expired
    };
    What what = What::added;
    GraphMirror::Kind kind = GraphMirror::Kind::node;
    std::uint32_t id = 0;
    bool failedChanged = false; // info: the node entered or left the error state
    std::uint32_t subject = 0;
    std::string key;
};

// A proxy this connection created (a node, a link), with what the server said about it.
// Created and destroyed with the loop lock held; the loop thread updates it.
class OwnedProxy {
public:
    OwnedProxy(struct pw_proxy* proxy, struct pw_thread_loop* loop);
    ~OwnedProxy(); // destroys the proxy, and so the object on the server
    OwnedProxy(const OwnedProxy&) = delete;
    OwnedProxy& operator=(const OwnedProxy&) = delete;

    struct pw_proxy* proxy() const {
        return proxy_;
    }
    // SPA_ID_INVALID until the server bound it to a global.
    std::uint32_t globalID() const { return globalID_; }
    // The server's first error about it (a negative errno), 0 when none.
    int error() const { return error_; }
    bool removed() const { return removed_; }

private:
    static void onDestroy(void* data);
    static void onBound(void* data, std::uint32_t globalID);
    static void onRemoved(void* data);
    static void onError(void* data, int seq, int res, const char* message);

    struct pw_proxy* proxy_;
    struct pw_thread_loop* loop_;
    struct spa_hook hook_ {};
    std::uint32_t globalID_;
    int error_ = 0;
    bool removed_ = false;
};

class PipeWireGraph;

// Links this connection keeps in place between ports it names: missing ones are made, those no
// longer wanted or gone on the server are dropped. Used with the loop lock held.
class LinkSet {
public:
    struct Link {
        std::uint32_t outputNode = 0;
        std::uint32_t outputPort = 0;
        std::uint32_t inputNode = 0;
        std::uint32_t inputPort = 0;
    };

    // Makes the set the given one; does not wait for the server.
    void reconcile(PipeWireGraph& graph, const std::vector<Link>& wanted);
    // Waits until every link is confirmed by the server. 0 or a negative errno.
    int waitUntilBound(PipeWireGraph& graph, double seconds) const;
    void clear() { links_.clear(); }

private:
    struct Held {
        Link link;
        std::unique_ptr<OwnedProxy> proxy;
    };
    std::vector<Held> links_;
};

// One connection to the PipeWire server, with its own loop thread, and the mirror of the graph
// it keeps from the registry. It binds every node, client and device for their full properties
// and the "default" metadata for its entries, and reconnects after the server went away.
//
// Threading: events arrive on the loop thread, which updates the mirror under mirrorMutex and
// then calls the change handler, still on the loop thread with the loop lock held. Control
// threads call into PipeWire only while holding a Lock; they read the mirror with read().
class PipeWireGraph {
public:
    using ChangeHandler = std::function<void(const GraphChange&)>;

    // remote: the server's socket name, empty for the usual one ($PIPEWIRE_REMOTE, else
    // pipewire-0). The handler runs on the loop thread, from start() on; none: only handlers
    // added later.
    PipeWireGraph(std::string remote, ChangeHandler handler = nullptr);
    // Starts the loop thread and connects; events reach the handler from now on.
    void start();
    ~PipeWireGraph();
    PipeWireGraph(const PipeWireGraph&) = delete;
    PipeWireGraph& operator=(const PipeWireGraph&) = delete;

    // Holds the loop lock: PipeWire objects of this connection may be used while it lives.
    class Lock {
    public:
        explicit Lock(const PipeWireGraph& graph);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        struct pw_thread_loop* loop_;
    };

    bool inLoopThread() const;

    // Several owners may share one connection: each adds a handler of its own, called after
    // those added before it, and removes it before it goes. Added before start(), a handler
    // sees every change; removed, it is not called again (both take the lock).
    std::uint64_t addHandler(ChangeHandler handler);
    void removeHandler(std::uint64_t id);
    struct pw_thread_loop* loop() const {
        return loop_;
    }

    // --- with the lock held --------------------------------------------------------------
    // The core while connected, else null.
    struct pw_core* core() const {
        return core_;
    }
    // 0 while connected, else why not (a negative errno).
    int connectionError() const { return connectionError_; }
    // The longest graph cycle the server runs, in frames (its clock.quantum-limit; 8192, the
    // default, until the server said otherwise).
    std::uint32_t quantumLimit() const { return quantumLimit_; }
    // Waits, releasing the lock meanwhile, until done() holds or `seconds` pass. False on time-out.
    bool waitFor(const std::function<bool()>& done, double seconds);
    // Waits (lock held), up to seconds, until the graph is mirrored, then up to metadataSeconds
    // more for the session manager's metadata. False at once without a connection (none yet, or
    // not started) and when the graph did not settle in time.
    bool waitUntilSettled(double seconds, double metadataSeconds);
    // A round trip to the server: every request sent before it has been processed. 0, or a
    // negative errno (-ETIMEDOUT, -EPIPE).
    int roundTrip(double seconds);
    // Creates an object through a server-side factory, owned by this connection.
    std::unique_ptr<OwnedProxy> createObject(const char* factory, const char* type,
                                             std::uint32_t version, const struct spa_dict* props);
    // Sets (or, with no value, removes) a property of the "default" metadata. 0 or a negative
    // errno (-ENOENT without the metadata object).
    int setMetadata(std::uint32_t subject, const char* key, const char* type, const char* value);
    bool hasDefaultMetadata() const { return metadata_ != nullptr; }
    // Sends a node the suspend command. 0 or a negative errno (-ENOENT for an unknown node).
    int suspendNode(std::uint32_t id);
    // Binds a global of the registry for its events and methods; the caller owns (and destroys)
    // the proxy. Null while not connected or when the bind fails.
    struct pw_proxy* bindGlobal(std::uint32_t id, const char* type, std::uint32_t version);
    // The proxies this connection holds now (of ids below 2^16), for leak checks.
    std::size_t proxyCount() const;
    // Connected, and the registry's and the metadata's first contents are in.
    bool isSettled() const { return core_ != nullptr && syncSeq_ == -1 && metadataSeq_ == -1; }
    // Wakes the threads waiting in waitFor (loop thread).
    void signal();
    // Sends one timer change to the handler after `seconds`; a later call replaces it.
    void armTimer(double seconds);

    // --- from any thread -----------------------------------------------------------------
    template <typename F> auto read(F&& f) const {
        std::lock_guard lock(mirrorMutex_);
        return f(mirror_);
    }

private:
    struct Bound;

    void connect();
    void disconnect();
    void bindMetadata();
    void unbindMetadata();
    void armRebind();
    static void rebindTimer(void* data, std::uint64_t expirations);
    void applyStagedMetadata();
    void scheduleReconnect();
    void onCoreDone(std::uint32_t id, int seq);
    void onCoreError(std::uint32_t id, int seq, int res);
    void onGlobal(std::uint32_t id, const char* type, std::uint32_t version,
                  const struct spa_dict* props);
    void onGlobalRemove(std::uint32_t id);
    void onInfo(Bound& bound, const struct spa_dict* props, std::optional<bool> failed,
                std::optional<bool> running);
    void onMetadataProperty(std::uint32_t subject, const char* key, const char* type,
                            const char* value);
    void emit(const GraphChange& change);

    static void coreDone(void* data, std::uint32_t id, int seq);
    static void coreInfo(void* data, const struct pw_core_info* info);
    static void coreError(void* data, std::uint32_t id, int seq, int res, const char* message);
    static void registryGlobal(void* data, std::uint32_t id, std::uint32_t permissions,
                               const char* type, std::uint32_t version,
                               const struct spa_dict* props);
    static void registryGlobalRemove(void* data, std::uint32_t id);
    static int metadataProperty(void* data, std::uint32_t subject, const char* key,
                                const char* type, const char* value);
    static void reconnectTimer(void* data, std::uint64_t expirations);
    static void ownerTimer(void* data, std::uint64_t expirations);

    const std::string remote_;
    // Loop-lock state: the handlers, the constructor's first, in the order added.
    std::vector<std::pair<std::uint64_t, ChangeHandler>> handlers_;
    std::uint64_t nextHandler_ = 1;
    struct pw_thread_loop* loop_ = nullptr;
    struct pw_context* context_ = nullptr;
    struct spa_source* reconnectSource_ = nullptr;
    struct spa_source* ownerTimer_ = nullptr;
    struct spa_source* rebindSource_ = nullptr;

    // Loop-lock state of the current connection.
    struct pw_core* core_ = nullptr;
    struct pw_registry* registry_ = nullptr;
    struct spa_hook coreHook_ {};
    struct spa_hook registryHook_ {};
    int connectionError_ = -ENOTCONN;
    std::uint32_t quantumLimit_ = 8192;
    int doneSeq_ = -1;
    int syncSeq_ = -1;     // the seq of the registry's initial round trip
    int metadataSeq_ = -1; // the seq of the metadata's initial round trip
    std::map<std::uint32_t, std::unique_ptr<Bound>> bound_;
    struct pw_metadata* metadata_ = nullptr;
    std::uint32_t metadataID_ = SPA_ID_INVALID; // the "default" metadata global, bound or not
    std::uint32_t metadataVersion_ = 0;
    std::size_t rebindStep_ = 0;
    bool restaging_ = false; // a fresh binding's entries go to staged_ until its round trip
    std::map<std::pair<std::uint32_t, std::string>, std::pair<std::string, std::string>> staged_;
    struct spa_hook metadataHook_ {};
    struct spa_hook metadataProxyHook_ {};

    mutable std::mutex mirrorMutex_;
    GraphMirror mirror_;
};

// An adapter's use of a connection: the shared one when given, else one of its own. The handler
// gets every change from here on; a connection of its own is started here, a shared one by its
// owner once every adapter has joined. Sets graph; returns the handler's id for leaveGraph.
std::uint64_t joinGraph(std::shared_ptr<PipeWireGraph>& graph,
                        const std::shared_ptr<PipeWireGraph>& shared, const std::string& remote,
                        PipeWireGraph::ChangeHandler handler);
// Removes the handler, so that no change reaches the adapter any more, then lets go of the
// connection (one of its own stops here).
void leaveGraph(std::shared_ptr<PipeWireGraph>& graph, std::uint64_t handler);

// PipeWire's dictionary as the mirror's plain properties.
GraphMirror::Properties toProperties(const struct spa_dict* dict);

} // namespace brindell
