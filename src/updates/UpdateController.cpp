#include "updates/UpdateController.h"

namespace brindell {

UpdateController::UpdateController(std::optional<UpdateConfig> config)
    : config_(std::move(config)) {}

void UpdateController::start() {}

void UpdateController::setAutomaticChecks(bool on) {
    automaticChecks_ = on;
    onChange_();
}

void UpdateController::checkForUpdates() {}

} // namespace brindell
