#pragma once

#include "sources/AudioProcessSource.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindell {

class PipeWireGraph;
class XdgWorkspace;

// The AudioProcessSource on PipeWire. A process object is a pid with at least one PipeWire
// client or stream node; its id is handed out when the pid first appears, kept while the pid
// stays and never reused. It is running output while one of the pid's Stream/Output/Audio nodes
// is in the running state, running input likewise for Stream/Input/Audio. Its bundle id is the
// application id: application.id, else pipewire.access.portal.app_id, of the pid's streams (then
// of its clients), else what the workspace says about the pid. An id read from the graph is
// told to the workspace, so the process grouper knows the application too, and so is the name
// the graph gives (application.name), for naming. A process is a verified host pid or a client
// of its own (see GraphMirror).
//
// It uses a connection to the server, with its loop thread, and the mirror of the graph fed
// from the registry there: the application's shared one, or one of its own. processes() is
// answered from the mirror, without a round trip. After a lost connection it reconnects by
// itself; meanwhile processes() fails.
//
// Threading: processes() may be called from any thread but the source's loop thread. onChange
// is called on the loop thread (the source's listener queue) whenever the list of process
// objects, their application ids or the running state of one of them changed: a stream
// appeared, vanished or changed state. It must only hand work on to its owner's queue.
class PipeWireProcessSource final : public AudioProcessSource {
public:
    // The workspace's application id for a pid; called from processes().
    using ApplicationIDLookup = std::function<std::optional<std::string>(pid_type)>;
    // Told the application id (or name) the graph names for a pid; called from processes().
    using ApplicationIDReport = std::function<void(pid_type, const std::string&)>;

    struct Options {
        std::string remote; // the server's socket; empty: $PIPEWIRE_REMOTE, else pipewire-0
        double connectTimeout = 5.0; // how long construction waits for the graph, seconds
        ApplicationIDLookup applicationID;
        ApplicationIDReport reportApplicationID;
        ApplicationIDReport reportApplicationName;
        // The connection shared with the other adapters, not yet started; none: one of its own.
        std::shared_ptr<PipeWireGraph> graph;
    };

    // Connects and waits, up to connectTimeout, until the graph is mirrored; on a shared
    // connection it waits for nothing. Without a server it returns at once and keeps trying in
    // the background.
    explicit PipeWireProcessSource(Options options);
    ~PipeWireProcessSource() override; // no onChange call runs or follows once it returns
    PipeWireProcessSource(const PipeWireProcessSource&) = delete;
    PipeWireProcessSource& operator=(const PipeWireProcessSource&) = delete;

    // Throws status("ProcessObjectList", negative errno) while the graph is not mirrored.
    std::vector<AudioProcessInfo> processes() override;
    void setOnChange(ChangeCallback callback) override;

    // Whether the connection is up and the graph mirrored.
    bool isConnected() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The production process source over a workspace's application ids (it keeps the workspace
// alive). options' application id callbacks are replaced by the workspace's. For a
// LinuxWorkspace pass std::shared_ptr<XdgWorkspace>(linuxWorkspace, &linuxWorkspace->xdg()).
std::shared_ptr<PipeWireProcessSource>
makePipeWireProcessSource(std::shared_ptr<XdgWorkspace> workspace,
                          PipeWireProcessSource::Options options = {});

} // namespace brindell
