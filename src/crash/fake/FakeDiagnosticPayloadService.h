#pragma once

#include "crash/DiagnosticPayload.h"

#include <algorithm>
#include <mutex>

namespace brindell {

// A DiagnosticPayloadService for tests: keeps its subscribers and delivers only when the test
// calls deliver(), on the test's thread. Thread-safe.
class FakeDiagnosticPayloadService final : public DiagnosticPayloadService {
public:
    void addSubscriber(std::weak_ptr<DiagnosticPayloadSubscriber> subscriber) override {
        std::lock_guard lock(mutex_);
        ++adds;
        const auto* raw = subscriber.lock().get();
        if (std::none_of(subscribers_.begin(), subscribers_.end(),
                         [&](const auto& s) { return s.lock().get() == raw; })) {
            subscribers_.push_back(std::move(subscriber));
        }
    }
    void removeSubscriber(const DiagnosticPayloadSubscriber* subscriber) override {
        std::lock_guard lock(mutex_);
        std::erase_if(subscribers_, [&](const auto& s) {
            auto strong = s.lock();
            return !strong || strong.get() == subscriber;
        });
    }

    // Hands the payloads to every live subscriber; returns how many got them.
    int deliver(const std::vector<DiagnosticPayload>& payloads) {
        std::vector<std::shared_ptr<DiagnosticPayloadSubscriber>> live;
        {
            std::lock_guard lock(mutex_);
            for (const auto& s : subscribers_) {
                if (auto strong = s.lock()) {
                    live.push_back(std::move(strong));
                }
            }
        }
        for (const auto& s : live) {
            s->didReceive(payloads);
        }
        return static_cast<int>(live.size());
    }

    std::size_t subscriberCount() {
        std::lock_guard lock(mutex_);
        return static_cast<std::size_t>(std::count_if(subscribers_.begin(), subscribers_.end(),
                                                      [](const auto& s) { return !s.expired(); }));
    }

    int adds = 0;

private:
    std::mutex mutex_;
    std::vector<std::weak_ptr<DiagnosticPayloadSubscriber>> subscribers_;
};

} // namespace brindell
