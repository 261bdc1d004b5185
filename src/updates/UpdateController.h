#pragma once

#include "updates/UpdateConfig.h"

#include <functional>
#include <optional>

namespace brindell {

// The program's share of updating. On this desktop the distribution's package manager updates
// Brindell, so there is never an updater controller: every update control is absent or disabled
// and the settings window says "This build does not check for updates.". Main thread only.
class UpdateController {
public:
    explicit UpdateController(std::optional<UpdateConfig> config);

    // Whether an updater controller exists. Always false here; the status menu's "Check for
    // Updates…" entry and the settings controls depend on it.
    bool hasController() const { return false; }
    bool canCheck() const { return canCheck_; }
    bool automaticChecks() const { return automaticChecks_; }
    // The configuration the build carries, if any (for diagnostics).
    const std::optional<UpdateConfig>& config() const { return config_; }

    void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

    // Called once by the shell after launch; without a controller nothing happens.
    void start();
    // Stores the value; with a controller it would also go to the updater.
    void setAutomaticChecks(bool on);
    // Without a controller nothing happens.
    void checkForUpdates();

private:
    std::optional<UpdateConfig> config_;
    bool canCheck_ = false;
    bool automaticChecks_ = false;
    std::function<void()> onChange_ = [] {};
};

} // namespace brindell
