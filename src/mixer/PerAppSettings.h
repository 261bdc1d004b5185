#pragma once

#include "settings/AppSettingsStore.h"
#include "tapengine/TapSessionManager.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace brindell {

// Joins process-level tap sessions with application-level remembered settings: starts a
// session with its application's volume, mute and output, remembers which application each
// tapped process belongs to (so a change the user makes is stored for the application), and
// forgets one application's settings or all of them, returning their running sessions to
// volume 1, unmuted, on the default output.
//
// A process without a bundle identifier is never remembered: its adjustments live in its session
// only.
//
// Threading: confined to the mixer engine's queue, like the manager and the store it shares.
class PerAppSettings {
public:
    PerAppSettings(std::shared_ptr<TapSessionManager> manager,
                   std::shared_ptr<AppSettingsStore> store);

    // Starts the process's session with its application's remembered settings. A remembered
    // output that is not connected starts the session on the default output and then asks for
    // the remembered one, so the session waits for it and moves there when it returns.
    // Throws the manager's StartError (of the fall-back start, when there was one); nothing is
    // recorded then.
    void attach(pid_type pid, const std::optional<std::string>& bundleID);
    // Forgets the process's application; its session is the caller's business.
    void detach(pid_type pid);

    // The application recorded for a tapped process, if any.
    std::optional<std::string> bundleID(pid_type pid) const;
    const std::map<pid_type, std::string>& bundleIDs() const { return bundleIDs_; }

    // Forgets the application's settings (writing the store only when it had some) and returns
    // its tapped processes to volume 1, unmuted, default output.
    void reset(const std::string& bundleID);
    // The same for every application; writes the store only when it was not empty.
    void resetAll();

    TapSessionManager& manager() { return *manager_; }
    AppSettingsStore& store() { return *store_; }

private:
    void resetSession(pid_type pid);

    const std::shared_ptr<TapSessionManager> manager_;
    const std::shared_ptr<AppSettingsStore> store_;
    std::map<pid_type, std::string> bundleIDs_;
};

} // namespace brindell
