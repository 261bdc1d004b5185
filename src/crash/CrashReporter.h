#pragma once

#include "crash/CrashConsent.h"
#include "crash/CrashSender.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace brindell {

// Turns crash diagnostics into reports and sends them one after another. There is no retry and
// no queue on disk: a report that fails to send is lost.
class CrashReporter {
public:
    CrashReporter(std::shared_ptr<CrashConsent> consent, std::shared_ptr<CrashSender> sender);

    // Sends a report for every diagnostic that yields one, in order, never in parallel, and
    // returns how many the endpoint accepted. Sends nothing when consent is off at the start.
    // Blocks for the network: call it from the upload queue, never the main thread.
    std::int64_t submit(const std::vector<Blob>& diagnostics);

    CrashSender& sender() { return *sender_; }

private:
    std::shared_ptr<CrashConsent> consent_;
    std::shared_ptr<CrashSender> sender_;
};

} // namespace brindell
