#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace brindell {

using Blob = std::vector<std::uint8_t>;

// One settings key's opaque blob: each owner encodes its own record into it. Implementations are
// bound to exactly one key. Called from the owner's queue only.
class SettingsStorage {
public:
    virtual ~SettingsStorage() = default;
    // The stored blob; none when the key is absent or unreadable.
    virtual std::optional<Blob> load() = 0;
    // Replaces the blob. False when it could not be written; the previous blob then stays intact.
    virtual bool save(const Blob& blob) = 0;
};

} // namespace brindell
