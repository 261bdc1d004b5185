#include "control/ChangeThrottle.h"

#include <algorithm>
#include <limits>

namespace brindell {

struct ChangeThrottle::State {
    std::shared_ptr<SerialQueue> queue;
    Seconds interval = 0.0;
    std::function<void()> emit;
    Seconds lastEmission = -std::numeric_limits<Seconds>::infinity();
    std::shared_ptr<WorkItem> pending;
};

ChangeThrottle::ChangeThrottle(std::shared_ptr<SerialQueue> queue, Seconds interval,
                               std::function<void()> emit)
    : state_(std::make_shared<State>()) {
    state_->queue = std::move(queue);
    state_->interval = interval;
    state_->emit = std::move(emit);
}

ChangeThrottle::~ChangeThrottle() {
    if (state_->pending) {
        state_->pending->cancel();
    }
}

void ChangeThrottle::changed() {
    if (state_->pending) {
        return; // the emission to come will cover this change
    }
    const Seconds due = state_->lastEmission + state_->interval;
    const Seconds delay = std::max(0.0, due - state_->queue->now());
    std::weak_ptr<State> weak = state_;
    state_->pending = state_->queue->asyncAfter(delay, [weak] {
        const auto state = weak.lock();
        if (!state) {
            return;
        }
        state->pending.reset();
        state->lastEmission = state->queue->now();
        // A copy: the handler may destroy the throttle.
        const auto emit = state->emit;
        emit();
    });
}

bool ChangeThrottle::isPending() const {
    return state_->pending != nullptr;
}

} // namespace brindell
