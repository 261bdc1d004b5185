#pragma once

#include "audio/AudioHardware.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace brindell {

class PipeWireGraph;

// One connection to the PipeWire server, with its loop thread and its mirror of the graph, for
// the hardware adapter, the process source and the system control to share, so that they agree
// on what the graph holds. Give it to each adapter's options, then start it: startSharedGraph
// connects and waits, up to timeout seconds, until the graph and the session manager's metadata
// are in (at once without a server, which is then tried again in the background).
std::shared_ptr<PipeWireGraph> makeSharedGraph(std::string remote = {});
void startSharedGraph(PipeWireGraph& graph, double timeout = 5.0);

// The production AudioHardware, on PipeWire with WirePlumber as session manager.
//
// One connection with its loop thread (the listener queue): the application's shared one, or one
// of its own. A mirror of the graph is kept on that thread and read under a lock, so lookups
// (processObject, outputDevices, isDeviceAlive, defaultOutputDeviceUID, deviceID) cost no round
// trip. The objects of the interface map as:
// - process object: an id per pid with a PipeWire client or stream node, kept while the pid
//   stays, never reused;
// - device: an Audio/Sink (or source, duplex) node; UID node.name, name node.description;
// - tap: the adapter's own record; it takes effect when an aggregate reads it: an unmuted tap
//   links every output stream of the process to the per-app sink beside its own route, a muted
//   one moves them there with target.object metadata; streams opened later are covered too.
//   The streams' own targets (another mixer's choice, which WirePlumber stores per app) are
//   kept: reported as the routed output, followed when changed meanwhile, left stored in
//   WirePlumber and put back when the move ends;
// - aggregate: a per-app null sink owned by this connection, never the default output;
// - IO procedure: a pw_filter node from the sink's monitor to the output device whose process
//   callback runs the IOBlock on the data thread, in the same graph cycle as the device.
// Everything created belongs to this connection and vanishes with it, also on a crash; the
// metadata it leaves behind after a crash is removed by the next run when it connects.
//
// Threading: every operation may be called from any thread but the loop thread (operations that
// wait for the server refuse there with EDEADLK); startIO and stopIO guard their procedure
// table with a lock of their own. onDeviceChange runs on the loop thread and must only hop to
// the receiver's queue. Failures are AudioHardwareError with PipeWire's negative errno as code.
class PipeWireHardware final : public AudioHardware {
public:
    struct Options {
        std::string remote;   // the server's socket; empty: $PIPEWIRE_REMOTE, else pipewire-0
        double timeout = 5.0; // the longest one operation waits for the server, seconds
        // Objects named with this prefix are Brindell's, also those of another (crashed) run.
        std::string ownNamePrefix = "com.quorvel.";
        // The connection shared with the other adapters, not yet started; none: one of its own.
        std::shared_ptr<PipeWireGraph> graph;
    };

    // Connects and waits, up to the timeout, until the graph is mirrored; on a shared connection
    // it waits for nothing. Without a server it returns at once and keeps trying in the
    // background; meanwhile the operations fail with the connection's error.
    PipeWireHardware();
    explicit PipeWireHardware(Options options);
    ~PipeWireHardware() override; // destroys every object it still holds, restores metadata

    PipeWireHardware(const PipeWireHardware&) = delete;
    PipeWireHardware& operator=(const PipeWireHardware&) = delete;

    void setOnDeviceChange(DeviceChangeCallback callback) override;
    DeviceChangeCallback onDeviceChange() const override;
    TapHandle createTap(AudioObjectID processObject, const std::string& name, bool muted) override;
    void destroyTap(AudioObjectID tap) override;
    AudioObjectID createAggregate(const AggregateSpec& request) override;
    void destroyAggregate(AudioObjectID aggregate) override;
    IOHandle startIO(AudioObjectID aggregate, IOBlock block) override;
    void stopIO(const IOHandle& handle) override;
    AudioObjectID processObject(pid_type pid) override;
    std::string defaultOutputDeviceUID() override;
    std::optional<std::string> routedOutputDeviceUID(AudioObjectID processObject) override;
    std::vector<AudioDeviceInfo> outputDevices() override;
    bool isDeviceAlive(const std::string& uid) override;
    std::vector<TapListEntry> listTaps() override;
    bool isServerReachable() const override;

    // The device node of a UID; absent when no device has it or the graph is not known.
    std::optional<AudioObjectID> deviceID(const std::string& uid) const;

    // The pids whose playback streams run now, oldest stream first (the proof's default target).
    std::vector<pid_type> playingProcesses() const;

    // Whether the connection is up and the graph mirrored.
    bool isConnected() const;

    // The PipeWire proxies the connection holds now, for leak checks.
    std::size_t proxyCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace brindell
