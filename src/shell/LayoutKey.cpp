#include "shell/LayoutKey.h"

namespace brindell {

LayoutKey LayoutKey::make(const std::vector<MixerRow>& rows, PermissionState permission,
                          const std::optional<OutputState>& master, bool serverReachable) {
    LayoutKey key;
    key.rows.reserve(rows.size());
    for (const auto& row : rows) {
        key.rows.push_back(std::to_string(row.pid) + "|" + row.status.text() + "|" +
                           (row.isActive ? "true" : "false"));
    }
    key.permission = permission;
    key.hasVolume = master && master->volume;
    key.serverReachable = serverReachable;
    return key;
}

} // namespace brindell
