#include "sources/WakeObservers.h"

#include <vector>

namespace brindell {

// Holds the registry weakly: an observation may outlive the workspace that issued it.
class WakeObservers::Observation final : public WakeObservation {
public:
    Observation(std::weak_ptr<Registry> registry, std::uint64_t id)
        : registry_(std::move(registry)), id_(id) {}
    ~Observation() override {
        if (const auto registry = registry_.lock()) {
            const std::lock_guard lock(registry->mutex);
            registry->callbacks.erase(id_);
        }
    }
    Observation(const Observation&) = delete;
    Observation& operator=(const Observation&) = delete;

private:
    std::weak_ptr<Registry> registry_;
    std::uint64_t id_;
};

WakeObservers::WakeObservers() : registry_(std::make_shared<Registry>()) {}

std::unique_ptr<WakeObservation> WakeObservers::add(std::function<void()> callback) {
    const std::lock_guard lock(registry_->mutex);
    const std::uint64_t id = registry_->nextID++;
    registry_->callbacks.emplace(id, std::move(callback));
    return std::make_unique<Observation>(registry_, id);
}

void WakeObservers::notify() {
    std::vector<std::function<void()>> callbacks;
    {
        const std::lock_guard lock(registry_->mutex);
        for (const auto& [id, callback] : registry_->callbacks) {
            callbacks.push_back(callback);
        }
    }
    for (const auto& callback : callbacks) {
        if (callback) {
            callback();
        }
    }
}

std::size_t WakeObservers::count() const {
    const std::lock_guard lock(registry_->mutex);
    return registry_->callbacks.size();
}

} // namespace brindell
