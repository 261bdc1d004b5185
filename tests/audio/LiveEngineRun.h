#pragma once

// The live engine with the production parts in a private audio session, as brindell runs it.

#include "app/LiveAudio.h"
#include "sources/XdgWorkspace.h"
#include "support/AudioSession.h"

#include <functional>
#include <memory>
#include <optional>

namespace brindell::testing {

// Started over the session's own folders; its settings in the session's folder.
inline std::shared_ptr<LiveMixerEngine> startEngine(AudioSession& session) {
    auto xdg = std::make_shared<XdgWorkspace>(XdgWorkspace::Options::fromEnvironment(
        [&session](const std::string& name) { return session.variable(name); }));
    auto engine = makeLiveAudio(xdg, xdg, {session.folder() + "/settings"}).engine;
    engine->start();
    return engine;
}

inline bool tapped(const MixerRow& row) {
    return row.status.kind() == MixerRowStatus::Kind::ok && row.isActive;
}

// Waits for the row of pid to satisfy condition; the row, or none at the deadline.
inline std::optional<MixerRow> waitForRow(LiveMixerEngine& engine, pid_type pid,
                                          const std::function<bool(const MixerRow&)>& condition,
                                          std::chrono::milliseconds timeout = 10s) {
    std::optional<MixerRow> found;
    waitUntil(
        [&] {
            for (const auto& row : engine.snapshot().rows) {
                if (row.pid == pid && condition(row)) {
                    found = row;
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

} // namespace brindell::testing
