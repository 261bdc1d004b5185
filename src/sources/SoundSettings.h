#pragma once

#include <optional>
#include <string>
#include <vector>

namespace brindell {

// The desktop's sound settings program and its arguments: the first installed of GNOME's
// control centre (sound panel), KDE's system settings (audio module) and pavucontrol, found on
// the search path. None when none is installed.
std::optional<std::vector<std::string>>
soundSettingsCommand(const std::vector<std::string>& searchPath);

} // namespace brindell
