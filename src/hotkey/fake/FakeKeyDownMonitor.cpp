#include "hotkey/fake/FakeKeyDownMonitor.h"

#include <utility>

namespace brindell {

struct FakeKeyDownMonitors::State {
    std::shared_ptr<std::function<bool(const KeyDownEvent&)>> handler;
    int installs = 0;
    bool refuse = false;
};

namespace {

class Token final : public KeyDownMonitor {
public:
    Token(std::shared_ptr<FakeKeyDownMonitors::State> state,
          std::shared_ptr<std::function<bool(const KeyDownEvent&)>> handler)
        : state_(state), handler_(std::move(handler)) {
        state->handler = handler_;
    }
    ~Token() override {
        if (const auto state = state_.lock(); state && state->handler == handler_) {
            state->handler.reset();
        }
    }

private:
    std::weak_ptr<FakeKeyDownMonitors::State> state_;
    std::shared_ptr<std::function<bool(const KeyDownEvent&)>> handler_;
};

} // namespace

FakeKeyDownMonitors::FakeKeyDownMonitors() : state_(std::make_shared<State>()) {}

KeyDownMonitorInstaller FakeKeyDownMonitors::installer() {
    std::weak_ptr<State> weakState = state_;
    return [weakState](std::function<bool(const KeyDownEvent&)> handler)
               -> std::unique_ptr<KeyDownMonitor> {
        const auto state = weakState.lock();
        if (!state || state->refuse) {
            return nullptr;
        }
        ++state->installs;
        return std::make_unique<Token>(
            state, std::make_shared<std::function<bool(const KeyDownEvent&)>>(std::move(handler)));
    };
}

std::optional<bool> FakeKeyDownMonitors::send(const KeyDownEvent& event) {
    // Keep the handler alive through the call: the model removes its monitor from inside it.
    const auto handler = state_->handler;
    if (!handler) {
        return std::nullopt;
    }
    return (*handler)(event);
}

bool FakeKeyDownMonitors::isInstalled() const {
    return state_->handler != nullptr;
}
int FakeKeyDownMonitors::installs() const {
    return state_->installs;
}
void FakeKeyDownMonitors::refuseInstalls(bool refuse) {
    state_->refuse = refuse;
}

} // namespace brindell
