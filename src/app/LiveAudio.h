#pragma once

#include "mixer/LiveMixerEngine.h"

#include <memory>
#include <string>

namespace brindell {

class AudioHardware;
class Workspace;
class XdgWorkspace;

// The live mixer engine on PipeWire, built from the production parts: the PipeWire hardware,
// process source and system control, the workspace's grouping and app info, and the per-app
// settings kept in the settings folder.
struct LiveAudioOptions {
    // Where the settings files live; empty: the user's settings folder.
    std::string settingsDirectory;
};

struct LiveAudio {
    std::shared_ptr<AudioHardware> hardware;
    std::shared_ptr<LiveMixerEngine> engine;
};

// `workspace` is the engine's (wake from sleep included); `xdg` answers the process source's
// application-id lookups and must outlive the engine. Without a PipeWire server the engine
// still builds: its sources stay empty until the server can be reached.
LiveAudio makeLiveAudio(std::shared_ptr<Workspace> workspace, std::shared_ptr<XdgWorkspace> xdg,
                        const LiveAudioOptions& options = {});

} // namespace brindell
