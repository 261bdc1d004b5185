#pragma once

#include "crash/CrashConsent.h"
#include "crash/CrashReporter.h"
#include "crash/CrashSender.h"
#include "crash/DiagnosticPayload.h"
#include "queue/SerialQueue.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindell {

// The crash-report switch the views bind to, and the subscriber of crash diagnostics. It only
// passes on crashes that happened after consent was given; each batch is sent by a task on the
// upload queue, off the main thread.
//
// Threading: create, isOn, setIsOn, start and the change callback belong to the main thread.
// didReceive may be called on any thread. Consent is read and written through one storage that
// the controller serialises, so the main thread and the upload task can share it.
class CrashController final : public DiagnosticPayloadSubscriber,
                              public std::enable_shared_from_this<CrashController> {
public:
    struct Environment {
        // Makes the sender for a checked endpoint (CurlCrashSender in the application).
        std::function<std::shared_ptr<CrashSender>(const std::string& endpoint)> makeSender;
        // The diagnostic service to subscribe to; none leaves subscription out.
        std::shared_ptr<DiagnosticPayloadService> diagnostics;
        // Seconds since 2001-01-01 UTC.
        std::function<Seconds()> now = systemReferenceTime;
        // Where submissions run; none makes a thread-backed queue of the controller's own.
        std::shared_ptr<SerialQueue> uploadQueue;
        // Told the count of accepted reports after each submission, on the upload queue.
        std::function<void(std::int64_t accepted)> onSubmitted;
    };

    // endpoint: the configured intake endpoint; one that is not an https URL means none, and
    // with none reporting is unavailable.
    static std::shared_ptr<CrashController> create(const std::optional<std::string>& endpoint,
                                                   std::shared_ptr<SettingsStorage> storage,
                                                   Environment environment);
    ~CrashController() override;
    CrashController(const CrashController&) = delete;
    CrashController& operator=(const CrashController&) = delete;

    // An intake endpoint is configured; without one the switch cannot be turned on.
    bool isAvailable() const { return reporter_ != nullptr; }
    bool isOn() const { return isOn_; }

    // Turns consent on or off and subscribes or unsubscribes accordingly. Ignored when
    // unavailable. The published state is what the storage holds afterwards: a write that fails
    // leaves the switch as it was.
    void setIsOn(bool on);

    // Called with the new state whenever isOn changes.
    void setOnChange(std::function<void(bool isOn)> onChange) { onChange_ = std::move(onChange); }

    // Subscribes to crash diagnostics when reporting is available and consent is on; the shell
    // calls it once at start.
    void start();

    // Keeps the diagnostics of payloads stamped at or after the consent time and sends them on
    // the upload queue. Any thread.
    void didReceive(const std::vector<DiagnosticPayload>& payloads) override;

    const CrashConsent& consent() const { return *consent_; }

private:
    CrashController() = default;
    void subscribe(bool on);

    std::shared_ptr<CrashConsent> consent_;
    std::shared_ptr<CrashReporter> reporter_; // none without an endpoint
    std::shared_ptr<CrashSender> sender_;
    std::shared_ptr<DiagnosticPayloadService> diagnostics_;
    std::function<void(std::int64_t)> onSubmitted_;
    std::function<void(bool)> onChange_;
    bool isOn_ = false;
    // Last: destroyed first, so a running submission ends while the reporter still exists.
    std::shared_ptr<SerialQueue> uploadQueue_;
};

} // namespace brindell
