#include "sources/SoundSettings.h"

#include "sources/DesktopEntryIndex.h"

namespace brindell {

std::optional<std::vector<std::string>>
soundSettingsCommand(const std::vector<std::string>& searchPath) {
    const std::vector<std::vector<std::string>> candidates = {
        {"gnome-control-center", "sound"},
        {"systemsettings", "kcm_pulseaudio"},
        {"pavucontrol"},
    };
    for (auto command : candidates) {
        // The path as found, not its link target: some programs look at their own name.
        if (const auto program = findExecutable(command.front(), searchPath)) {
            command.front() = *program;
            return command;
        }
    }
    return std::nullopt;
}

} // namespace brindell
