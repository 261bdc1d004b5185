#include "audio/pipewire/IONode.h"

#include "audio/pipewire/PipeWireCalls.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <spa/buffer/buffer.h>

// A test build defines these to trap allocation and locking while a process cycle runs; in the
// program they stay undefined (weak), and the cycle only skips two calls.
extern "C" void brindell_realtime_enter() __attribute__((weak));
extern "C" void brindell_realtime_leave() __attribute__((weak));

namespace brindell {

IONode::IONode(PipeWireGraph& graph, std::string nodeName, std::string description,
               std::vector<std::string> inputChannels, std::vector<std::string> outputChannels,
               IOBlock block)
    : graph_(graph), nodeName_(std::move(nodeName)), description_(std::move(description)),
      inputChannels_(std::move(inputChannels)), outputChannels_(std::move(outputChannels)),
      runner_(std::move(block), static_cast<std::uint32_t>(inputChannels_.size()),
              static_cast<std::uint32_t>(outputChannels_.size())) {
    inputSamples_.resize(inputChannels_.size());
    outputSamples_.resize(outputChannels_.size());
}

IONode::~IONode() {
    destroy();
}

int IONode::create() {
    if (graph_.core() == nullptr) {
        return graph_.connectionError() != 0 ? graph_.connectionError() : -ENOTCONN;
    }
    // No media class: the session manager leaves the node alone, and only our links feed it.
    struct pw_properties* props = pw_properties_new(
        PW_KEY_NODE_NAME, nodeName_.c_str(), PW_KEY_NODE_DESCRIPTION, description_.c_str(),
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Filter", PW_KEY_NODE_AUTOCONNECT,
        "false", PW_KEY_NODE_ALWAYS_PROCESS, "true", nullptr);
    filter_ = pw_filter_new(graph_.core(), nodeName_.c_str(), props);
    if (filter_ == nullptr) {
        return errno != 0 ? -errno : -ENOMEM;
    }
    static const struct pw_filter_events events = {
        .version = PW_VERSION_FILTER_EVENTS,
        .destroy = nullptr,
        .state_changed = &IONode::onStateChanged,
        .io_changed = nullptr,
        .param_changed = nullptr,
        .add_buffer = nullptr,
        .remove_buffer = nullptr,
        .process = &IONode::onProcess,
        .drained = nullptr,
        .command = nullptr,
    };
    pw_filter_add_listener(filter_, &listener_, &events, this);

    // Port buffers as long as the longest cycle the server runs: a "format.dsp" port's hold
    // 8192 samples, whatever the server's quantum limit.
    std::uint8_t podMemory[512];
    struct spa_pod_builder builder = SPA_POD_BUILDER_INIT(podMemory, sizeof(podMemory));
    const struct spa_pod* params[2] = {};
    pwcall::dspPortParams(&builder, std::max(graph_.quantumLimit(), maxFrames), params);
    auto addPort = [&](enum spa_direction direction, const std::string& channel) -> void* {
        const std::string name =
            (direction == SPA_DIRECTION_INPUT ? "input_" : "output_") + channel;
        struct pw_properties* portProps = pw_properties_new(
            PW_KEY_PORT_NAME, name.c_str(), PW_KEY_AUDIO_CHANNEL, channel.c_str(), nullptr);
        return pw_filter_add_port(filter_, direction, PW_FILTER_PORT_FLAG_MAP_BUFFERS, 0, portProps,
                                  params, 2);
    };
    for (const std::string& channel : inputChannels_) {
        void* port = addPort(SPA_DIRECTION_INPUT, channel);
        if (port == nullptr) {
            return -ENOMEM;
        }
        inputs_.push_back(port);
    }
    for (const std::string& channel : outputChannels_) {
        void* port = addPort(SPA_DIRECTION_OUTPUT, channel);
        if (port == nullptr) {
            return -ENOMEM;
        }
        outputs_.push_back(port);
    }
    // RT_PROCESS: process runs on the data thread within the graph cycle. Without it, newer
    // PipeWire schedules the filter asynchronously and adds a quantum of latency.
    // INACTIVE until the route is linked: the server sets up a port's buffers when a link to it
    // is made, and our loop thread takes them in while the data thread may run process on the
    // old ones. An inactive node is not scheduled, so all of that is done before it first runs.
    const int res = pw_filter_connect(
        filter_, static_cast<pw_filter_flags>(PW_FILTER_FLAG_RT_PROCESS | PW_FILTER_FLAG_INACTIVE),
        nullptr, 0);
    if (res < 0) {
        return res;
    }
    connected_ = true;
    return 0;
}

std::uint32_t IONode::nodeID() const {
    return filter_ != nullptr ? pw_filter_get_node_id(filter_) : SPA_ID_INVALID;
}

int IONode::waitUntilReady(double seconds) {
    const std::size_t portCount = inputs_.size() + outputs_.size();
    const bool ready = graph_.waitFor(
        [&] {
            if (stateError_ != 0 || graph_.core() == nullptr) {
                return true;
            }
            const std::uint32_t id = nodeID();
            if (id == SPA_ID_INVALID) {
                return false;
            }
            return graph_.read([&](const GraphMirror& mirror) {
                return mirror.find(id) != nullptr && mirror.ports(id).size() == portCount;
            });
        },
        seconds);
    if (stateError_ != 0) {
        return stateError_;
    }
    if (graph_.core() == nullptr) {
        return graph_.connectionError();
    }
    return ready ? 0 : -ETIMEDOUT;
}

void IONode::setRoute(std::uint32_t sourceNode, std::string deviceUID) {
    sourceNode_ = sourceNode;
    deviceUID_ = std::move(deviceUID);
}

std::vector<LinkSet::Link> IONode::wantedLinks() const {
    const std::uint32_t self = nodeID();
    if (self == SPA_ID_INVALID) {
        return {};
    }
    return graph_.read([&](const GraphMirror& mirror) {
        std::vector<LinkSet::Link> wanted;
        const auto device = mirror.deviceID(deviceUID_);
        const auto ownPorts = mirror.ports(self);
        const auto sourcePorts = mirror.ports(sourceNode_);
        const auto devicePorts = device ? mirror.ports(*device) : std::vector<GraphMirror::Port>{};
        for (const auto& own : ownPorts) {
            if (!own.output) {
                for (const auto& source : sourcePorts) {
                    if (source.output && source.monitor && source.channel == own.channel) {
                        wanted.push_back({sourceNode_, source.id, self, own.id});
                    }
                }
            } else {
                for (const auto& playback : devicePorts) {
                    if (!playback.output && !playback.monitor && playback.channel == own.channel) {
                        wanted.push_back({self, own.id, *device, playback.id});
                    }
                }
            }
        }
        return wanted;
    });
}

void IONode::reconcile() {
    if (filter_ == nullptr || graph_.core() == nullptr) {
        return;
    }
    links_.reconcile(graph_, wantedLinks());
}

int IONode::waitUntilLinked(double seconds) {
    const auto wanted = wantedLinks();
    const bool inputs = std::any_of(wanted.begin(), wanted.end(),
                                    [&](const auto& w) { return w.inputNode == nodeID(); });
    const bool outputs = std::any_of(wanted.begin(), wanted.end(),
                                     [&](const auto& w) { return w.outputNode == nodeID(); });
    if (!inputs || !outputs) {
        return -ENODEV;
    }
    links_.reconcile(graph_, wanted);
    if (int res = links_.waitUntilBound(graph_, seconds); res < 0) {
        return res;
    }
    PipeWireGraph::Lock lock(graph_);
    return filter_ != nullptr ? pw_filter_set_active(filter_, true) : -ENOTCONN;
}

int IONode::stop() {
    if (filter_ == nullptr || !connected_) {
        return 0;
    }
    return pw_filter_set_active(filter_, false);
}

int IONode::destroy() {
    links_.clear();
    if (filter_ == nullptr) {
        return 0;
    }
    int res = 0;
    if (connected_) {
        res = pw_filter_disconnect(filter_);
        connected_ = false;
    }
    spa_hook_remove(&listener_);
    // Destroying the filter takes its node off the data thread before it returns.
    pw_filter_destroy(filter_);
    filter_ = nullptr;
    inputs_.clear();
    outputs_.clear();
    return res;
}

void IONode::onStateChanged(void* data, enum pw_filter_state /*old*/, enum pw_filter_state state,
                            const char* /*error*/) {
    auto* self = static_cast<IONode*>(data);
    if (state == PW_FILTER_STATE_ERROR && self->stateError_ == 0) {
        self->stateError_ = -EIO;
    }
    self->graph_.signal();
}

void IONode::onProcess(void* data, struct spa_io_position* position) {
    static_cast<IONode*>(data)->process(position);
}

namespace {

// The buffer PipeWire has for a port this cycle, taken and handed back at once as
// pw_filter_get_dsp_buffer does, but with the buffer's own size: that call returns the data
// pointer whatever the samples asked for, and a cycle longer than the buffer (a graph quantum
// above the 8192 samples a filter's port buffer holds) would run past the end of its memory.
spa_data* takeBuffer(void* port, pw_buffer*& taken) {
    taken = pw_filter_dequeue_buffer(port);
    if (taken == nullptr) {
        return nullptr;
    }
    spa_buffer* buffer = taken->buffer;
    if (buffer == nullptr || buffer->n_datas == 0 || buffer->datas[0].data == nullptr ||
        buffer->datas[0].chunk == nullptr) {
        pw_filter_queue_buffer(port, taken);
        return nullptr;
    }
    return &buffer->datas[0];
}

} // namespace

PlanarChannel IONode::inputSamples(void* port) noexcept {
    pw_buffer* taken = nullptr;
    const spa_data* data = takeBuffer(port, taken);
    if (data == nullptr) {
        return {};
    }
    // The valid samples: the chunk the peer wrote, cut to what the buffer holds.
    const std::uint32_t offset = std::min(data->chunk->offset, data->maxsize);
    const std::uint32_t size = std::min(data->chunk->size, data->maxsize - offset);
    PlanarChannel samples;
    if (offset % sizeof(float) == 0) {
        samples = {static_cast<float*>(SPA_PTROFF(data->data, offset, void)),
                   static_cast<std::uint32_t>(size / sizeof(float))};
    }
    pw_filter_queue_buffer(port, taken);
    return samples;
}

PlanarChannel IONode::outputSamples(void* port, std::uint32_t frames) noexcept {
    pw_buffer* taken = nullptr;
    spa_data* data = takeBuffer(port, taken);
    if (data == nullptr) {
        return {};
    }
    const auto count = std::min(frames, static_cast<std::uint32_t>(data->maxsize / sizeof(float)));
    data->chunk->offset = 0;
    data->chunk->size = count * static_cast<std::uint32_t>(sizeof(float));
    data->chunk->stride = sizeof(float);
    data->chunk->flags = 0;
    pw_filter_queue_buffer(port, taken);
    return {static_cast<float*>(data->data), count};
}

// Data thread. Real-time contract: no locks, no allocation, no calls into the program other
// than the IOBlock (which keeps the same contract); only this node's ports and its own
// preallocated buffers are touched, and of each port's buffer no more than it holds.
void IONode::process(struct spa_io_position* position) noexcept {
    struct RealTimeScope {
        RealTimeScope() {
            if (brindell_realtime_enter != nullptr) {
                brindell_realtime_enter();
            }
        }
        ~RealTimeScope() {
            if (brindell_realtime_leave != nullptr) {
                brindell_realtime_leave();
            }
        }
        RealTimeScope(const RealTimeScope&) = delete;
        RealTimeScope& operator=(const RealTimeScope&) = delete;
    } scope;
    cycles_.store(cycles_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    if (position == nullptr) {
        return;
    }
    const std::uint64_t duration = position->clock.duration;
    const auto frames = static_cast<std::uint32_t>(std::min<std::uint64_t>(duration, UINT32_MAX));
    const std::size_t inChannels = inputs_.size();
    const std::size_t outChannels = outputs_.size();

    // Every port's buffer is taken each cycle, so none is left queued for a later one.
    for (std::size_t c = 0; c < inChannels; ++c) {
        inputSamples_[c] = inputSamples(inputs_[c]);
    }
    for (std::size_t c = 0; c < outChannels; ++c) {
        outputSamples_[c] = outputSamples(outputs_[c], frames);
    }
    const PlanarCycle cycle{frames, inputSamples_.data(), static_cast<std::uint32_t>(inChannels),
                            outputSamples_.data(), static_cast<std::uint32_t>(outChannels)};
    runner_.run({static_cast<double>(position->clock.position), position->clock.nsec}, cycle);
}

} // namespace brindell
