#include "crash/CrashReporter.h"

#include "crash/CrashReport.h"

#include <exception>

namespace brindell {

CrashReporter::CrashReporter(std::shared_ptr<CrashConsent> consent,
                             std::shared_ptr<CrashSender> sender)
    : consent_(std::move(consent)), sender_(std::move(sender)) {}

std::int64_t CrashReporter::submit(const std::vector<Blob>& diagnostics) {
    if (!consent_->isOn()) {
        return 0;
    }
    std::int64_t accepted = 0;
    for (const auto& diagnostic : diagnostics) {
        const auto report = CrashReport::make(diagnostic);
        if (!report) {
            continue;
        }
        const Blob body = report->encoded();
        if (body.empty()) {
            continue;
        }
        try {
            sender_->send(body);
            ++accepted;
        } catch (const std::exception&) {
            // Dropped, as every failed report: no retry, nothing kept.
        }
    }
    return accepted;
}

} // namespace brindell
