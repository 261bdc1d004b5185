#pragma once

#include "crash/CrashSender.h"

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace brindell {

// A CrashSender for tests: records every body and answers from a script, one outcome per send
// (then accepts). Thread-safe.
class FakeCrashSender final : public CrashSender {
public:
    // An HTTP status to answer with, or none for a transport failure.
    void script(std::vector<std::optional<std::int64_t>> statuses) {
        std::lock_guard lock(mutex_);
        script_.assign(statuses.begin(), statuses.end());
    }

    void send(const Blob& body) override {
        std::optional<std::int64_t> status = 200;
        {
            std::lock_guard lock(mutex_);
            bodies_.emplace_back(body.begin(), body.end());
            if (!script_.empty()) {
                status = script_.front();
                script_.pop_front();
            }
            if (cancelled_) {
                status = std::nullopt;
            }
        }
        if (!status) {
            throw CrashTransportError("no answer");
        }
        if (*status < 200 || *status > 299) {
            throw SendError::rejected(*status);
        }
    }
    void cancel() override {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }

    std::vector<std::string> bodies() const {
        std::lock_guard lock(mutex_);
        return bodies_;
    }
    bool cancelled() const {
        std::lock_guard lock(mutex_);
        return cancelled_;
    }

private:
    mutable std::mutex mutex_;
    std::deque<std::optional<std::int64_t>> script_;
    std::vector<std::string> bodies_;
    bool cancelled_ = false;
};

} // namespace brindell
