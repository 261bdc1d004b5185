#include "login/LaunchAtLoginModel.h"

#include <exception>

namespace brindell {

LaunchAtLoginModel::LaunchAtLoginModel(std::shared_ptr<LoginItemService> service)
    : service_(std::move(service)) {
    status_ = loginItemStatusFromRaw(service_->status());
}

bool LaunchAtLoginModel::isOn() const {
    return status_ == LoginItemStatus::enabled || status_ == LoginItemStatus::requiresApproval;
}

void LaunchAtLoginModel::readStatus() {
    status_ = loginItemStatusFromRaw(service_->status());
    if (status_ == LoginItemStatus::requiresApproval) {
        message_ = approvalMessage;
    } else {
        message_.reset();
    }
}

void LaunchAtLoginModel::refresh() {
    readStatus();
    onChange_();
}

void LaunchAtLoginModel::set(bool on) {
    std::optional<std::string> failure;
    try {
        if (on) {
            service_->registerItem();
        } else {
            service_->unregisterItem();
        }
    } catch (const std::exception& error) {
        failure = error.what();
    }
    // The status shows what the service really holds after the attempt, failed or not.
    readStatus();
    if (failure) {
        message_ = std::string(on ? "Could not turn on opening at login: "
                                  : "Could not turn off opening at login: ") +
                   *failure;
    }
    onChange_();
}

} // namespace brindell
