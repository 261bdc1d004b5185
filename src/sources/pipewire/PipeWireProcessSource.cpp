#include "sources/pipewire/PipeWireProcessSource.h"

#include "audio/pipewire/PipeWireGraph.h"
#include "sources/XdgWorkspace.h"

#include <atomic>
#include <cerrno>
#include <mutex>

namespace brindell {

struct PipeWireProcessSource::Impl {
    explicit Impl(Options o) : options(std::move(o)) {}

    // Loop thread: tells the owner when what processes() would answer has changed.
    void onGraphChange(const GraphChange& change) {
        using What = GraphChange::What;
        switch (change.what) {
        case What::connected:
            connected = true;
            break;
        case What::disconnected:
            connected = false;
            last.reset(); // the next connection's list is news, whatever it holds
            return;
        case What::added:
        case What::removed:
        case What::info:
            // Ports, links and devices say nothing about processes; until the registry's first
            // contents are in, the list is not complete.
            if (!connected || (change.kind != GraphMirror::Kind::node &&
                               change.kind != GraphMirror::Kind::client)) {
                return;
            }
            break;
        default:
            return;
        }
        auto current =
            graph->read([](const GraphMirror& mirror) { return mirror.audioProcesses(); });
        if (last && *last == current) {
            return;
        }
        last = std::move(current);
        ChangeCallback callback;
        {
            std::lock_guard lock(callbackMutex);
            callback = onChange;
        }
        if (callback) {
            callback();
        }
    }

    const Options options;
    std::atomic<bool> connected{false};
    std::mutex callbackMutex;
    ChangeCallback onChange;
    // Loop thread only: the list as last reported.
    std::optional<std::vector<GraphMirror::AudioProcess>> last;
    // Last, so that its loop thread stops before anything it uses goes.
    std::shared_ptr<PipeWireGraph> graph;
    std::uint64_t handler = 0;
};

PipeWireProcessSource::PipeWireProcessSource(Options options)
    : impl_(std::make_unique<Impl>(std::move(options))) {
    Impl* impl = impl_.get();
    impl->handler = joinGraph(impl->graph, impl->options.graph, impl->options.remote,
                              [impl](const GraphChange& change) { impl->onGraphChange(change); });
    PipeWireGraph::Lock lock(*impl->graph);
    // Without a server there is nothing to wait for: it is tried again in the background.
    impl->graph->waitFor(
        [impl] { return impl->graph->core() == nullptr || impl->connected.load(); },
        impl->options.connectTimeout);
}

PipeWireProcessSource::~PipeWireProcessSource() {
    setOnChange(nullptr);
    leaveGraph(impl_->graph, impl_->handler);
}

std::vector<AudioProcessInfo> PipeWireProcessSource::processes() {
    if (!impl_->connected) {
        int code = 0;
        {
            PipeWireGraph::Lock lock(*impl_->graph);
            code = impl_->graph->connectionError();
        }
        throw AudioHardwareError::status("ProcessObjectList", code != 0 ? code : -ENOTCONN);
    }
    const auto records =
        impl_->graph->read([](const GraphMirror& mirror) { return mirror.audioProcesses(); });
    std::vector<AudioProcessInfo> result;
    result.reserve(records.size());
    for (const auto& record : records) {
        AudioProcessInfo info;
        info.objectID = record.objectID;
        info.pid = record.pid;
        info.isRunning = record.running;
        info.isRunningInput = record.runningInput;
        info.isRunningOutput = record.runningOutput;
        if (record.applicationName && impl_->options.reportApplicationName) {
            impl_->options.reportApplicationName(record.pid, *record.applicationName);
        }
        if (record.applicationID) {
            info.bundleID = record.applicationID;
            if (impl_->options.reportApplicationID) {
                impl_->options.reportApplicationID(record.pid, *record.applicationID);
            }
        } else if (impl_->options.applicationID) {
            info.bundleID = impl_->options.applicationID(record.pid);
        }
        if (info.bundleID && info.bundleID->empty()) {
            info.bundleID.reset();
        }
        result.push_back(std::move(info));
    }
    return result;
}

void PipeWireProcessSource::setOnChange(ChangeCallback callback) {
    std::lock_guard lock(impl_->callbackMutex);
    impl_->onChange = std::move(callback);
}

bool PipeWireProcessSource::isConnected() const {
    return impl_->connected;
}

std::shared_ptr<PipeWireProcessSource>
makePipeWireProcessSource(std::shared_ptr<XdgWorkspace> workspace,
                          PipeWireProcessSource::Options options) {
    if (workspace) {
        options.applicationID = [workspace](pid_type pid) { return workspace->applicationID(pid); };
        options.reportApplicationID = [workspace](pid_type pid, const std::string& id) {
            workspace->reportApplicationID(pid, id);
        };
        options.reportApplicationName = [workspace](pid_type pid, const std::string& name) {
            workspace->reportApplicationName(pid, name);
        };
    } else {
        options.applicationID = nullptr;
        options.reportApplicationID = nullptr;
        options.reportApplicationName = nullptr;
    }
    return std::make_shared<PipeWireProcessSource>(std::move(options));
}

} // namespace brindell
