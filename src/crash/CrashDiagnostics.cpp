#include "crash/CrashDiagnostics.h"

#include "crash/CrashConsent.h"

#include <algorithm>

namespace brindell {

std::shared_ptr<CrashDiagnostics> CrashDiagnostics::create(CrashDiagnosticStore store,
                                                           std::shared_ptr<SerialQueue> queue) {
    return std::shared_ptr<CrashDiagnostics>(
        new CrashDiagnostics(std::move(store), std::move(queue)));
}

CrashDiagnostics::CrashDiagnostics(CrashDiagnosticStore store, std::shared_ptr<SerialQueue> queue)
    : store_(std::move(store)), queue_(std::move(queue)) {}

void CrashDiagnostics::addSubscriber(std::weak_ptr<DiagnosticPayloadSubscriber> subscriber) {
    {
        std::lock_guard lock(mutex_);
        const auto added = subscriber.lock();
        if (!added) {
            return;
        }
        std::erase_if(subscribers_, [](const auto& s) { return s.expired(); });
        const bool known = std::any_of(subscribers_.begin(), subscribers_.end(),
                                       [&](const auto& s) { return s.lock() == added; });
        if (!known) {
            subscribers_.push_back(std::move(subscriber));
        }
    }
    queue_->async([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->deliver();
        }
    });
}

void CrashDiagnostics::removeSubscriber(const DiagnosticPayloadSubscriber* subscriber) {
    std::lock_guard lock(mutex_);
    std::erase_if(subscribers_, [&](const auto& s) {
        const auto strong = s.lock();
        return !strong || strong.get() == subscriber;
    });
}

void CrashDiagnostics::deliver() {
    std::vector<std::shared_ptr<DiagnosticPayloadSubscriber>> live;
    {
        std::lock_guard lock(mutex_);
        for (const auto& s : subscribers_) {
            if (auto strong = s.lock()) {
                live.push_back(std::move(strong));
            }
        }
    }
    if (live.empty()) {
        return; // kept for a later subscriber
    }
    store_.prune();
    std::vector<DiagnosticPayload> payloads;
    std::vector<CrashDiagnosticStore::Entry> delivered;
    for (const auto& entry : store_.list()) {
        if (auto bytes = store_.read(entry)) {
            payloads.push_back({entry.crashTime - referenceDateOffset, {std::move(*bytes)}});
            delivered.push_back(entry);
        } else {
            store_.remove(entry); // unreadable or oversized: it will never become a report
        }
    }
    if (payloads.empty()) {
        return;
    }
    for (const auto& subscriber : live) {
        subscriber->didReceive(payloads);
    }
    for (const auto& entry : delivered) {
        store_.remove(entry);
    }
}

} // namespace brindell
