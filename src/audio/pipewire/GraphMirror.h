#pragma once

#include "audio/AudioRecords.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brindell {

// Marks the per-app sinks Brindell creates (value "true"), so that any run can tell them from
// the user's sinks: they list as aggregates and must never become the default output.
inline constexpr const char* perAppSinkMarker = "brindell.per-app-sink";
// On a per-app sink: the node.name of the device its audio goes on to, so that whoever finds the
// sink as the default output can tell which device is really playing.
inline constexpr const char* perAppSinkOutputKey = "brindell.output-device";
// On a per-app sink: the aggregate's own name ("Brindell 412"), which the sink lists under; its
// node.description names the app for other mixers ("Firefox (Brindell)").
inline constexpr const char* perAppSinkNameKey = "brindell.aggregate-name";

// The PipeWire object ids the adapter hands out itself (process objects, taps) start here, far
// above the graph's own ids, which PipeWire keeps small by reusing them.
inline constexpr AudioObjectID firstAdapterObjectID = 1u << 24;

// A plain-record copy of the parts of the PipeWire graph the adapter reads: nodes, ports, links,
// clients, devices and the "default" metadata, as property dictionaries. The adapter feeds it
// from registry, info and metadata events on its loop thread; every lookup of the adapter is
// answered from here, without a round trip to the server.
//
// It knows PipeWire only by property names, so it builds and is tested without libpipewire.
// Not thread-safe: the owner guards it.
class GraphMirror {
public:
    using Properties = std::map<std::string, std::string, std::less<>>;
    enum class Kind { node, port, link, client, device };
    // Whether the process with this pid still runs.
    using ProcessProbe = std::function<bool(pid_type)>;
    // Whether a host process with this pid runs the program a client names (base name; any
    // program when empty).
    using ProgramProbe = std::function<bool(pid_type, std::string_view binary)>;

    // isRunning decides how long a pid keeps its process object once its last client and stream
    // have gone (see processObject); isProgram verifies the pid a client claims. By default both
    // ask /proc.
    explicit GraphMirror(ProcessProbe isRunning = processIsRunning,
                         ProgramProbe isProgram = processRunsProgram);

    struct Object {
        Kind kind = Kind::node;
        std::uint32_t id = 0;
        std::uint64_t serial = 0;
        Properties props;
        bool failed = false;  // a node that reported the error state
        bool running = false; // a node that reported the running state
        // A client's identity (see pidOf), kept while the properties it rests on stay.
        mutable std::string identityKey;
        mutable std::optional<pid_type> identity;
    };

    struct Port {
        std::uint32_t id = 0;
        std::uint32_t node = 0;
        std::uint32_t portID = 0; // the port's index on its node
        std::string name;
        std::string channel; // audio.channel, for example "FL"
        bool output = false;
        bool monitor = false;
    };

    struct Link {
        std::uint32_t id = 0;
        std::uint32_t outputNode = 0;
        std::uint32_t outputPort = 0;
        std::uint32_t inputNode = 0;
        std::uint32_t inputPort = 0;
    };

    struct MetadataEntry {
        std::uint32_t subject = 0;
        std::string key;
        std::string type;
        std::string value;
    };

    // --- feeding --------------------------------------------------------------------------
    // A global appeared. An id that is still present is replaced (PipeWire reuses ids only after
    // the removal, but a lost removal must not leave a stale object behind).
    void add(Kind kind, std::uint32_t id, Properties props);
    // The object's full properties arrived (info event); they are merged over the global's.
    // Unknown ids are ignored: the removal came first.
    void updateProperties(std::uint32_t id, const Properties& props);
    void setFailed(std::uint32_t id, bool failed);
    void setRunning(std::uint32_t id, bool running);
    void remove(std::uint32_t id);
    // One property of the "default" metadata; no value removes it. An empty key removes every
    // key of the subject, as a metadata clear does.
    void setMetadata(std::uint32_t subject, const std::string& key, const std::string& type,
                     std::optional<std::string> value);
    void clearMetadata();
    // Forgets the whole graph, as after a lost connection. Process object ids are not reused.
    void clear();

    // --- objects --------------------------------------------------------------------------
    const Object* find(std::uint32_t id) const;
    std::optional<std::uint32_t> nodeByName(std::string_view name) const;
    std::vector<Port> ports(std::uint32_t node) const; // ordered by direction, then index
    std::vector<Link> links() const;
    std::optional<MetadataEntry> metadata(std::uint32_t subject, std::string_view key) const;
    std::vector<MetadataEntry> metadataEntries() const;

    // --- devices --------------------------------------------------------------------------
    // Audio sink, source and duplex nodes in creation order.
    std::vector<AudioDeviceInfo> devices() const;
    // The device node whose node.name is uid.
    std::optional<std::uint32_t> deviceID(std::string_view uid) const;
    // The device exists and is not in error.
    bool isDeviceAlive(std::string_view uid) const;
    bool isDevice(std::uint32_t node) const;
    bool isPerAppSink(std::uint32_t node) const;
    // The sink a playback stream is routed to by the targets of its own, read as WirePlumber
    // reads them: the metadata's target.object (a serial or a node.name) over its target.node (an
    // id), over the stream's target.object / node.target properties. The two metadata entries
    // are passed in, so that a caller can read the targets the stream had before it moved it.
    // None when the stream follows the default output ("-1", no target), or when the target is
    // no sink of the user's (unknown, a per-app sink).
    std::optional<std::string> routedSink(std::uint32_t stream,
                                          const std::optional<MetadataEntry>& object,
                                          const std::optional<MetadataEntry>& node) const;
    // The sink WirePlumber would pick by priority among the ones that are neither per-app sinks
    // nor in error, by node.name; none when there is no such sink.
    std::optional<std::string> preferredSink() const;
    // node.name of default.audio.sink / default.configured.audio.sink, when set and readable.
    std::optional<std::string> defaultSinkName() const;
    std::optional<std::string> configuredSinkName() const;

    // --- processes ------------------------------------------------------------------------
    // A client's pid is the host pid of its process when that is verified: the server's
    // pipewire.sec.pid (what the kernel says about the peer; for a client that pipewire-pulse
    // bridges, that is pipewire-pulse itself, so the pid the client claims is taken instead),
    // and only when that process runs the program the client names. Otherwise, as for a client
    // in another pid namespace that claims its own pid 1, the client stands for itself:
    // firstClientIdentity plus its serial, an identity no host pid can take.
    //
    // The process object of a pid with at least one client or stream node; assigned when the
    // pid first appears and kept while it stays. A pid whose last client and stream went keeps
    // its object for as long as the process runs: apps that open one connection per stream (as
    // pw_stream_new_simple does, and browsers per video) have none for a moment between two
    // streams, and a session on the process must not end there.
    std::optional<AudioObjectID> processObject(pid_type pid) const;
    std::optional<pid_type> pidOfProcessObject(AudioObjectID processObject) const;
    // The pid a node belongs to: its own application.process.id, else its client's.
    std::optional<pid_type> nodePid(std::uint32_t node) const;
    // The playback stream nodes of a pid, in creation order.
    std::vector<std::uint32_t> outputStreams(pid_type pid) const;
    bool isOutputStream(std::uint32_t node) const;
    // The pids whose playback streams run now, by the streams' creation order, each once.
    std::vector<pid_type> playingProcesses() const;

    // One process object with what its audio streams do now.
    struct AudioProcess {
        AudioObjectID objectID = 0;
        pid_type pid = 0;
        // application.id, else pipewire.access.portal.app_id, of the pid's stream nodes (oldest
        // first), else of its clients; none when no object of the pid names one.
        std::optional<std::string> applicationID;
        // application.name of its streams (oldest first), else of its clients.
        std::optional<std::string> applicationName;
        bool running = false;               // one of its audio streams runs
        bool runningInput = false;          // a Stream/Input/Audio node of it runs
        bool runningOutput = false;         // a Stream/Output/Audio node of it runs
        std::vector<std::uint32_t> streams; // its audio stream nodes, by id
        friend bool operator==(const AudioProcess&, const AudioProcess&) = default;
    };
    // Every process object, in the order the pids first appeared.
    std::vector<AudioProcess> audioProcesses() const;

    // The default probes: /proc/<pid> names a process that is not a zombie; and one that runs
    // binary (ProcFileSystem::runsProgram).
    static bool processIsRunning(pid_type pid);
    static bool processRunsProgram(pid_type pid, std::string_view binary);

private:
    struct Process {
        AudioObjectID id = 0;
        bool held = false; // no client or stream of the pid is left; kept while it runs
    };

    const Object* findKind(std::uint32_t id, Kind kind) const;
    std::optional<pid_type> pidOf(const Object& object) const;
    std::optional<pid_type> clientIdentity(const Object& client) const;
    void recountProcesses();
    // The entry of a pid that is present or held while still running.
    const Process* liveProcess(pid_type pid) const;

    std::map<std::uint32_t, Object> objects_;
    std::map<std::pair<std::uint32_t, std::string>, std::pair<std::string, std::string>> metadata_;
    ProcessProbe isRunning_;
    ProgramProbe isProgram_;
    // Mutable: a read that finds a held process exited drops it, so that a later process with
    // the same pid gets a new object.
    mutable std::map<pid_type, Process> processes_;
    AudioObjectID nextProcessObject_ = firstAdapterObjectID;
};

// How a device node is connected, from its own and its device's properties.
DeviceTransport transportOf(const GraphMirror::Properties& node,
                            const GraphMirror::Properties* device);

// The value WirePlumber stores for a default node, {"name": "..."}, and back. Bad JSON or a
// missing name gives none.
std::optional<std::string> parseNodeNameValue(std::string_view json);
std::string nodeNameValue(std::string_view name);

} // namespace brindell
