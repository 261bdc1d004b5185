#pragma once

#include "sources/Workspace.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace brindell {

// The observer list behind Workspace::observeWake. Thread-safe: observers may be added,
// removed and notified from any thread; a notification calls them outside the lock, so an
// observer may remove itself.
class WakeObservers {
public:
    WakeObservers();

    std::unique_ptr<WakeObservation> add(std::function<void()> callback);
    void notify();
    std::size_t count() const;

private:
    struct Registry {
        std::mutex mutex;
        std::uint64_t nextID = 1;
        std::map<std::uint64_t, std::function<void()>> callbacks;
    };
    class Observation;

    std::shared_ptr<Registry> registry_;
};

} // namespace brindell
