#pragma once

#include "queue/Clock.h"
#include "settings/SettingsStorage.h"

#include <memory>
#include <vector>

namespace brindell {

// What the diagnostic service delivers about earlier runs: crash diagnostics, each the JSON
// that CrashReport::make reads, stamped with when the crash happened.
struct DiagnosticPayload {
    Seconds beginTimeStamp = 0; // seconds since 2001-01-01 UTC
    std::vector<Blob> crashDiagnostics;
};

// Receives diagnostic payloads. Called on the service's delivery thread.
class DiagnosticPayloadSubscriber {
public:
    virtual ~DiagnosticPayloadSubscriber() = default;
    virtual void didReceive(const std::vector<DiagnosticPayload>& payloads) = 0;
};

// A source of crash diagnostics from earlier runs. Subscribers are held weakly; what has been
// delivered is not delivered again. Thread-safe.
class DiagnosticPayloadService {
public:
    virtual ~DiagnosticPayloadService() = default;
    // Adds the subscriber (again: no effect) and delivers what is pending, asynchronously.
    virtual void addSubscriber(std::weak_ptr<DiagnosticPayloadSubscriber> subscriber) = 0;
    virtual void removeSubscriber(const DiagnosticPayloadSubscriber* subscriber) = 0;
};

} // namespace brindell
