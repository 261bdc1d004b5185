#pragma once

#include "login/LoginItemService.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindell {

// The model behind the "Open Brindell at login" switch: reads the service's status, registers
// or unregisters, and turns failures into a message. Never throws. Main thread only.
class LaunchAtLoginModel {
public:
    static constexpr const char* approvalMessage =
        "Approve Brindell in System Settings, Login Items, to start it at login.";

    explicit LaunchAtLoginModel(std::shared_ptr<LoginItemService> service);

    LoginItemStatus status() const { return status_; }
    const std::optional<std::string>& message() const { return message_; }
    // On while registered, also while approval is pending.
    bool isOn() const;

    // Called after every refresh and set; the view re-reads status and message.
    void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

    void refresh();
    void set(bool on);

private:
    void readStatus();

    LoginItemStatus status_ = LoginItemStatus::notRegistered;
    std::optional<std::string> message_;
    std::shared_ptr<LoginItemService> service_;
    std::function<void()> onChange_ = [] {};
};

} // namespace brindell
