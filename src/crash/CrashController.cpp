#include "crash/CrashController.h"

#include "crash/CrashEndpoint.h"
#include "queue/ThreadQueue.h"

#include <mutex>

namespace brindell {
namespace {

// Serialises one storage between the main thread and the upload task.
class SerialisedStorage final : public SettingsStorage {
public:
    explicit SerialisedStorage(std::shared_ptr<SettingsStorage> inner) : inner_(std::move(inner)) {}

    std::optional<Blob> load() override {
        std::lock_guard lock(mutex_);
        return inner_->load();
    }
    bool save(const Blob& blob) override {
        std::lock_guard lock(mutex_);
        return inner_->save(blob);
    }

private:
    std::mutex mutex_;
    std::shared_ptr<SettingsStorage> inner_;
};

} // namespace

std::shared_ptr<CrashController> CrashController::create(const std::optional<std::string>& endpoint,
                                                         std::shared_ptr<SettingsStorage> storage,
                                                         Environment environment) {
    std::shared_ptr<CrashController> controller(new CrashController());
    auto shared = std::make_shared<SerialisedStorage>(std::move(storage));
    controller->consent_ = std::make_shared<CrashConsent>(shared, environment.now);
    controller->diagnostics_ = std::move(environment.diagnostics);
    controller->onSubmitted_ = std::move(environment.onSubmitted);
    const auto checked = endpoint ? crashIntakeEndpoint(*endpoint) : std::nullopt;
    if (checked && environment.makeSender) {
        controller->sender_ = environment.makeSender(*checked);
    }
    if (controller->sender_) {
        // The reporter reads consent through its own object on the same storage.
        controller->reporter_ = std::make_shared<CrashReporter>(
            std::make_shared<CrashConsent>(shared, environment.now), controller->sender_);
        controller->uploadQueue_ =
            environment.uploadQueue
                ? std::move(environment.uploadQueue)
                : std::make_shared<ThreadQueue>("com.quorvel.taskor.brindell.crash-upload");
    }
    controller->isOn_ = controller->isAvailable() && controller->consent_->isOn();
    return controller;
}

CrashController::~CrashController() {
    if (diagnostics_) {
        diagnostics_->removeSubscriber(this);
    }
    if (sender_) {
        sender_->cancel();
    }
}

void CrashController::setIsOn(bool on) {
    if (!isAvailable() || on == consent_->isOn()) {
        return;
    }
    consent_->set(on);
    const bool now = consent_->isOn();
    if (now != isOn_) {
        isOn_ = now;
        if (onChange_) {
            onChange_(isOn_);
        }
    }
    subscribe(now);
}

void CrashController::start() {
    if (isAvailable() && consent_->isOn()) {
        subscribe(true);
    }
}

void CrashController::subscribe(bool on) {
    if (!diagnostics_) {
        return;
    }
    if (on) {
        diagnostics_->addSubscriber(weak_from_this());
    } else {
        diagnostics_->removeSubscriber(this);
    }
}

void CrashController::didReceive(const std::vector<DiagnosticPayload>& payloads) {
    const auto since = consent_->since();
    if (!since || !reporter_) {
        return; // consent withdrawn meanwhile, or nowhere to send
    }
    std::vector<Blob> diagnostics;
    for (const auto& payload : payloads) {
        if (payload.beginTimeStamp >= *since) {
            diagnostics.insert(diagnostics.end(), payload.crashDiagnostics.begin(),
                               payload.crashDiagnostics.end());
        }
    }
    if (diagnostics.empty()) {
        return;
    }
    uploadQueue_->async([reporter = std::weak_ptr<CrashReporter>(reporter_),
                         onSubmitted = onSubmitted_, diagnostics = std::move(diagnostics)] {
        if (auto strong = reporter.lock()) {
            const auto accepted = strong->submit(diagnostics);
            if (onSubmitted) {
                onSubmitted(accepted);
            }
        }
    });
}

} // namespace brindell
