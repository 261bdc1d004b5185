#pragma once

#include "crash/CrashDiagnosticStore.h"
#include "crash/DiagnosticPayload.h"
#include "queue/SerialQueue.h"

#include <memory>
#include <mutex>
#include <vector>

namespace brindell {

// Delivers the crash diagnostics that the fatal-signal handler stored in earlier runs: when a
// subscriber is added, every stored diagnostic goes to the live subscribers as one payload each,
// stamped with its crash time, and is then deleted. With no live subscriber nothing is read or
// deleted. Delivery runs on the given queue; all methods may be called from any thread.
class CrashDiagnostics final : public DiagnosticPayloadService,
                               public std::enable_shared_from_this<CrashDiagnostics> {
public:
    static std::shared_ptr<CrashDiagnostics> create(CrashDiagnosticStore store,
                                                    std::shared_ptr<SerialQueue> deliveryQueue);

    void addSubscriber(std::weak_ptr<DiagnosticPayloadSubscriber> subscriber) override;
    void removeSubscriber(const DiagnosticPayloadSubscriber* subscriber) override;

    const CrashDiagnosticStore& store() const { return store_; }

private:
    CrashDiagnostics(CrashDiagnosticStore store, std::shared_ptr<SerialQueue> deliveryQueue);
    void deliver(); // on the delivery queue

    const CrashDiagnosticStore store_;
    const std::shared_ptr<SerialQueue> queue_;
    std::mutex mutex_;
    std::vector<std::weak_ptr<DiagnosticPayloadSubscriber>> subscribers_; // guarded by mutex_
};

} // namespace brindell
