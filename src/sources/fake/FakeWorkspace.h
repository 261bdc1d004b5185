#pragma once

#include "sources/WakeObservers.h"
#include "sources/Workspace.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace brindell {

// A scriptable Workspace: a process tree with executable paths, running applications,
// installed applications with names, icons and install folders, a wake the test triggers, and
// a record of every lookup made. Thread-safe.
class FakeWorkspace final : public Workspace {
public:
    enum class Call {
        runningApps,
        parentPID,
        executablePath,
        givenName,
        runningApplication,
        applicationBundle,
        bundleContaining,
        bundleNames,
        bundleDisplayName,
        fileIcon,
        executableIcon,
        openSoundSettings,
    };

    struct InstalledApp {
        std::string bundleID;
        std::string bundlePath;           // what applicationBundle answers
        std::optional<BundleNames> names; // none: the application cannot be read
        IconReference icon = IconReference::theme("application-default-icon");
        std::optional<std::string> installFolder; // executables under it belong to the app
    };

    // --- scripting ------------------------------------------------------------------------
    // parent: none means the parent cannot be read.
    void addProcess(pid_type pid, std::optional<pid_type> parent,
                    std::optional<std::string> executablePath = std::nullopt);
    void setGivenName(pid_type pid, std::string name);
    // Running applications are listed in the order they were added (the platform's order).
    void addRunningApp(RunningAppRef app, RunningAppDetails details = {});
    void removeRunningApp(pid_type pid);
    void install(InstalledApp app);
    void setBundleDisplayName(const std::string& bundlePath, std::string name);
    void triggerWake();

    // --- inspection -----------------------------------------------------------------------
    std::size_t callCount(Call call) const;
    std::size_t totalCalls() const;
    void clearCalls();
    std::size_t wakeObserverCount() const { return wake_.count(); }

    // --- Workspace ------------------------------------------------------------------------
    std::vector<RunningAppRef> runningApps() override;
    std::optional<pid_type> parentPID(pid_type pid) override;
    std::optional<std::string> executablePath(pid_type pid) override;
    std::optional<std::string> givenName(pid_type pid) override;
    std::optional<RunningAppDetails> runningApplication(pid_type pid) override;
    std::optional<std::string> applicationBundle(const std::string& bundleID) override;
    std::optional<std::string> bundleContaining(const std::string& executablePath) override;
    std::optional<BundleNames> bundleNames(const std::string& bundlePath) override;
    std::string bundleDisplayName(const std::string& bundlePath) override;
    IconReference fileIcon(const std::string& bundlePath) override;
    IconReference executableIcon() override;
    std::unique_ptr<WakeObservation> observeWake(std::function<void()> callback) override;
    bool openSoundSettings() override;

private:
    struct Process {
        std::optional<pid_type> parent;
        std::optional<std::string> executablePath;
    };

    void record(Call call); // expects mutex_ held
    const InstalledApp* findInstalled(const std::string& bundlePath) const;

    mutable std::mutex mutex_;
    std::map<pid_type, Process> processes_;
    std::map<pid_type, std::string> givenNames_;
    std::vector<std::pair<RunningAppRef, RunningAppDetails>> running_;
    std::vector<InstalledApp> installed_;
    std::map<std::string, std::string> displayNames_;
    std::map<Call, std::size_t> calls_;
    WakeObservers wake_;
};

} // namespace brindell
