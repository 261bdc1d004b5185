#pragma once

#include "queue/SerialQueue.h"

#include <functional>
#include <memory>

namespace brindell {

// Coalesces change notices into at most one emission per interval. The first notice after a
// quiet interval is emitted on the next turn of the queue (so a change in progress completes
// first); notices within the interval fold into one trailing emission at its end. Listeners
// that read the state when they hear an emission always see the latest change.
//
// Threading: changed() and destruction on the queue's thread; emit runs there too.
// Ownership: the scheduled work holds the throttle's state weakly; destroying the throttle
// drops a pending emission.
class ChangeThrottle {
public:
    ChangeThrottle(std::shared_ptr<SerialQueue> queue, Seconds interval,
                   std::function<void()> emit);
    ~ChangeThrottle();
    ChangeThrottle(const ChangeThrottle&) = delete;
    ChangeThrottle& operator=(const ChangeThrottle&) = delete;

    void changed();
    bool isPending() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace brindell
