#pragma once

#include "sources/XdgWorkspace.h"

#include <memory>
#include <optional>
#include <string>

namespace brindell {

// The workspace on a Linux desktop: the XDG workspace for processes and installed
// applications, logind's PrepareForSleep(false) on the system bus as the wake from sleep, and
// the desktop's sound settings started as a detached program. Without a bus (as on a machine
// with no system bus) there is simply no wake notification.
//
// Threading: construct and destroy it on a thread that runs a Qt event loop (the main thread);
// wake observers are called there. Every lookup may be called from any thread.
class LinuxWorkspace final : public Workspace {
public:
    struct Options {
        XdgWorkspace::Options workspace = XdgWorkspace::Options::fromEnvironment();
        // The bus to hear logind on; none: the system bus.
        std::optional<std::string> wakeBusAddress;
    };

    LinuxWorkspace();
    explicit LinuxWorkspace(Options options);
    ~LinuxWorkspace() override;
    LinuxWorkspace(const LinuxWorkspace&) = delete;
    LinuxWorkspace& operator=(const LinuxWorkspace&) = delete;

    // Whether logind's sleep signal is being listened to.
    bool listensForWake() const;
    // The lookups, for what only Linux offers (application ids, icon folders).
    XdgWorkspace& xdg() { return *xdg_; }

    // --- Workspace ------------------------------------------------------------------------
    std::vector<RunningAppRef> runningApps() override { return xdg_->runningApps(); }
    std::optional<pid_type> parentPID(pid_type pid) override { return xdg_->parentPID(pid); }
    std::optional<std::string> executablePath(pid_type pid) override {
        return xdg_->executablePath(pid);
    }
    std::optional<std::string> givenName(pid_type pid) override { return xdg_->givenName(pid); }
    std::optional<RunningAppDetails> runningApplication(pid_type pid) override {
        return xdg_->runningApplication(pid);
    }
    std::optional<std::string> applicationBundle(const std::string& bundleID) override {
        return xdg_->applicationBundle(bundleID);
    }
    std::optional<std::string> bundleContaining(const std::string& executablePath) override {
        return xdg_->bundleContaining(executablePath);
    }
    std::optional<BundleNames> bundleNames(const std::string& bundlePath) override {
        return xdg_->bundleNames(bundlePath);
    }
    std::string bundleDisplayName(const std::string& bundlePath) override {
        return xdg_->bundleDisplayName(bundlePath);
    }
    IconReference fileIcon(const std::string& bundlePath) override {
        return xdg_->fileIcon(bundlePath);
    }
    IconReference executableIcon() override { return xdg_->executableIcon(); }
    std::unique_ptr<WakeObservation> observeWake(std::function<void()> callback) override {
        return xdg_->observeWake(std::move(callback));
    }
    bool openSoundSettings() override { return xdg_->openSoundSettings(); }

private:
    class WakeListener;

    std::shared_ptr<XdgWorkspace> xdg_;
    std::unique_ptr<WakeListener> wake_;
};

} // namespace brindell
