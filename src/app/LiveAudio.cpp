#include "app/LiveAudio.h"

#include "audio/pipewire/PipeWireHardware.h"
#include "output/pipewire/PipeWireSystemControl.h"
#include "settings/AppSettingsStore.h"
#include "settings/FileSettingsStorage.h"
#include "settings/SettingsKeys.h"
#include "sources/WorkspaceAppInfoProvider.h"
#include "sources/WorkspaceProcessGrouper.h"
#include "sources/XdgWorkspace.h"
#include "sources/pipewire/PipeWireProcessSource.h"

#include <unistd.h>

namespace brindell {

LiveAudio makeLiveAudio(std::shared_ptr<Workspace> workspace, std::shared_ptr<XdgWorkspace> xdg,
                        const LiveAudioOptions& options) {
    const std::string key(settingsKeys::perAppSettings);
    auto storage = options.settingsDirectory.empty()
                       ? std::make_shared<FileSettingsStorage>(key)
                       : std::make_shared<FileSettingsStorage>(options.settingsDirectory, key);
    // One connection for the three adapters, so that they see the same graph: each joins it
    // before it starts, and so sees every change from the first.
    auto graph = makeSharedGraph();
    PipeWireHardware::Options hardwareOptions;
    hardwareOptions.graph = graph;
    auto hardware = std::make_shared<PipeWireHardware>(hardwareOptions);
    PipeWireProcessSource::Options sourceOptions;
    sourceOptions.graph = graph;
    PipeWireSystemControl::Options controlOptions;
    controlOptions.graph = graph;

    LiveMixerEngine::Parts parts;
    parts.hardware = hardware;
    parts.processSource = makePipeWireProcessSource(xdg, std::move(sourceOptions));
    parts.systemControl = PipeWireSystemControl::create(hardware, std::move(controlOptions));
    startSharedGraph(*graph, hardwareOptions.timeout);
    parts.appInfo = std::make_shared<WorkspaceAppInfoProvider>(workspace);
    parts.grouper = WorkspaceProcessGrouper::overWorkspace(workspace);
    parts.settingsStore = std::make_shared<AppSettingsStore>(std::move(storage));
    parts.workspace = std::move(workspace);
    parts.ownPID = ::getpid();
    return {hardware, LiveMixerEngine::create(std::move(parts))};
}

} // namespace brindell
