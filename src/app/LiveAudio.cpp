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
    auto hardware = std::make_shared<PipeWireHardware>();

    LiveMixerEngine::Parts parts;
    parts.hardware = hardware;
    parts.processSource = makePipeWireProcessSource(xdg);
    parts.systemControl = PipeWireSystemControl::create(hardware);
    parts.appInfo = std::make_shared<WorkspaceAppInfoProvider>(workspace);
    parts.grouper = WorkspaceProcessGrouper::overWorkspace(workspace);
    parts.settingsStore = std::make_shared<AppSettingsStore>(std::move(storage));
    parts.workspace = std::move(workspace);
    parts.ownPID = ::getpid();
    return {hardware, LiveMixerEngine::create(std::move(parts))};
}

} // namespace brindell
