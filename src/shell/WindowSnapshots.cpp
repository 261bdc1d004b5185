// The settings and onboarding snapshot modes: the real views over models that touch nothing of
// the machine (no key grab, no autostart entry, no network, settings in memory), on Qt's
// offscreen platform.
#include "crash/CrashController.h"
#include "hotkey/HotkeyController.h"
#include "hotkey/HotkeyRecorderModel.h"
#include "login/LaunchAtLoginModel.h"
#include "shell/BrindellApp.h"
#include "shell/OnboardingView.h"
#include "shell/SettingsView.h"
#include "shell/SnapshotSupport.h"
#include "updates/InfoDictionary.h"
#include "updates/UpdateController.h"

namespace brindell {

namespace {

class MemoryStorage final : public SettingsStorage {
public:
    std::optional<Blob> load() override { return blob_; }
    bool save(const Blob& blob) override {
        blob_ = blob;
        return true;
    }

private:
    std::optional<Blob> blob_;
};

class AcceptingRegistrar final : public HotkeyRegistrar {
public:
    void registerCombo(const HotkeyCombo&, std::function<void()>) override {}
    void unregister() override {}
};

class NoLoginItem final : public LoginItemService {
public:
    std::int64_t status() override { return 0; }
    void registerItem() override {}
    void unregisterItem() override {}
};

class NoSender final : public CrashSender {
public:
    void send(const Blob&) override { throw CrashTransportError("snapshots send nothing"); }
};

// Every section, crash reporting included, with the defaults of a first launch.
SettingsModels snapshotModels() {
    auto hotkey = std::make_shared<HotkeyController>(std::make_shared<AcceptingRegistrar>(),
                                                     std::make_shared<MemoryStorage>());
    hotkey->start([] {});
    SettingsModels models;
    models.recorder = HotkeyRecorderModel::create(hotkey, {});
    models.launchAtLogin = std::make_shared<LaunchAtLoginModel>(std::make_shared<NoLoginItem>());
    models.updates = std::make_shared<UpdateController>(std::nullopt);
    CrashController::Environment environment;
    environment.makeSender = [](const std::string&) { return std::make_shared<NoSender>(); };
    models.crash =
        CrashController::create("https://crash.example.org/v1/crash",
                                std::make_shared<MemoryStorage>(), std::move(environment));
    return models;
}

} // namespace

int runSettingsSnapshot(int argc, char** argv, const std::string& path, RenderLook look) {
    HeadlessApp headless(argc, argv);
    SettingsViewOptions options;
    options.version = infoVersion();
    SettingsView view(snapshotModels(), std::move(options), appearanceFor(look));
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.show();
    settle();
    return save(render(view), path);
}

int runOnboardingSnapshot(int argc, char** argv, const std::string& path, RenderLook look) {
    HeadlessApp headless(argc, argv);
    OnboardingView view(
        true, [](bool) {}, appearanceFor(look));
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.show();
    settle();
    return save(render(view), path);
}

} // namespace brindell
