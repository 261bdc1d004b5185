#pragma once

#include "crash/CrashSender.h"

#include <atomic>
#include <optional>
#include <string>

namespace brindell {

// Posts each report to the crash-intake endpoint over HTTPS with libcurl: method POST,
// "Content-Type: application/json", a 60 s limit per request, a 20 s limit on connecting and on
// a stalled transfer, no cookies, no cache, no redirects (a report goes to the configured host
// or nowhere), and the peer's certificate always verified.
class CurlCrashSender final : public CrashSender {
public:
    struct Options {
        std::string url;                   // https only
        std::optional<std::string> caFile; // trust these CAs instead of the system's
        double requestTimeout = 60;        // seconds for the whole request
        double stallTimeout = 20;          // seconds to connect, or without progress
    };

    // Throws std::invalid_argument for a URL that is not https.
    explicit CurlCrashSender(Options options);

    // Blocks until the endpoint answers. Throws SendError for a status outside 200 to 299 and
    // CrashTransportError with libcurl's message otherwise. One send at a time.
    void send(const Blob& body) override;

    // Any thread: aborts the send in progress within a fraction of a second, and every later one.
    void cancel() override { cancelled_ = true; }

    const Options& options() const { return options_; }

private:
    Options options_;
    std::atomic<bool> cancelled_{false};
};

} // namespace brindell
