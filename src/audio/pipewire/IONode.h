#pragma once

// Internal to the PipeWire adapter: includes PipeWire's headers.

#include "audio/AudioBuffers.h"
#include "audio/PlanarIO.h"
#include "audio/pipewire/PipeWireGraph.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <pipewire/filter.h>
#include <string>
#include <vector>

namespace brindell {

// The IO procedure of one per-app sink: a pw_filter node with one input port per tap channel
// (linked from the sink's monitor ports) and one output port per channel of the output device
// (linked to the device's playback ports). Its process callback runs the IOBlock once per graph
// cycle on PipeWire's data thread, in the same cycle as the device, on the ports' own planar
// buffers where the block has a planar form.
//
// Ownership and threading: created, connected, linked and destroyed on the control side with
// the loop lock held. The data thread touches only the filter's ports, the buffers allocated
// here before the filter connects, and the block; nothing of it changes while the filter runs.
class IONode {
public:
    // The frames of one run of the block: the default quantum limit. A longer graph cycle (a
    // raised limit) runs the block in pieces of at most this many frames.
    static constexpr std::uint32_t maxFrames = PlanarCycleRunner::maxFrames;

    // inputChannels / outputChannels: audio.channel names, for example {"FL", "FR"}.
    IONode(PipeWireGraph& graph, std::string nodeName, std::string description,
           std::vector<std::string> inputChannels, std::vector<std::string> outputChannels,
           IOBlock block);
    ~IONode(); // disconnects and destroys the filter: the block never runs again
    IONode(const IONode&) = delete;
    IONode& operator=(const IONode&) = delete;

    // Creates the filter and connects it, scheduled on the data thread. 0 or a negative errno.
    int create();
    // Waits until the filter's node and ports are in the graph. 0 or a negative errno.
    int waitUntilReady(double seconds);
    std::uint32_t nodeID() const;

    // Where the node takes its audio from (the monitor ports of sourceNode) and where it plays
    // to (the playback ports of the device named deviceUID), matched by channel.
    void setRoute(std::uint32_t sourceNode, std::string deviceUID);
    // Makes the links of the route that are missing and drops those whose ports went away: the
    // session manager recreates ports when it restarts, and devices come back with new ids.
    // Does not wait. Loop lock held.
    void reconcile();
    // Drops every link of the route (reconcile makes them again). Loop lock held.
    void dropLinks() { links_.clear(); }
    // The device the route plays to.
    const std::string& deviceUID() const { return deviceUID_; }
    // Waits until every link of the route is confirmed by the server, then lets the node run.
    // 0 or a negative errno (-ENODEV when the route has no link to make).
    int waitUntilLinked(double seconds);

    // Deactivates the filter: the process callback stops being called. 0 or a negative errno.
    int stop();
    // Drops the links and disconnects the filter. 0 or a negative errno.
    int destroy();

    // Cycles run so far (for the adapter's own checks; relaxed).
    std::uint64_t cycles() const { return cycles_.load(std::memory_order_relaxed); }

private:
    static void onProcess(void* data, struct spa_io_position* position);
    static void onStateChanged(void* data, enum pw_filter_state old, enum pw_filter_state state,
                               const char* error);
    void process(struct spa_io_position* position) noexcept;
    static PlanarChannel inputSamples(void* port) noexcept;
    static PlanarChannel outputSamples(void* port, std::uint32_t frames) noexcept;

    PipeWireGraph& graph_;
    const std::string nodeName_;
    const std::string description_;
    const std::vector<std::string> inputChannels_;
    const std::vector<std::string> outputChannels_;

    struct pw_filter* filter_ = nullptr;
    struct spa_hook listener_ {};
    std::vector<void*> inputs_;  // port data of the input ports
    std::vector<void*> outputs_; // port data of the output ports

    std::vector<LinkSet::Link> wantedLinks() const;

    std::uint32_t sourceNode_ = 0;
    std::string deviceUID_;
    LinkSet links_;
    int stateError_ = 0;
    bool connected_ = false;

    // Data-thread memory, sized before the filter connects and never resized while it runs.
    // A port's samples for the current cycle are never more than its buffer holds.
    PlanarCycleRunner runner_;
    std::vector<PlanarChannel> inputSamples_;  // one per input port
    std::vector<PlanarChannel> outputSamples_; // one per output port
    std::atomic<std::uint64_t> cycles_{0};
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
};

} // namespace brindell
