#include "queue/SerialQueue.h"

namespace brindell {

namespace {
thread_local const SerialQueue* currentQueue = nullptr;
}

const SerialQueue* SerialQueue::current() {
    return currentQueue;
}

SerialQueue::RunningScope::RunningScope(const SerialQueue* queue) : previous_(currentQueue) {
    currentQueue = queue;
}

SerialQueue::RunningScope::~RunningScope() {
    currentQueue = previous_;
}

} // namespace brindell
