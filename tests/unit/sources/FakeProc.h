#pragma once

#include "audio/AudioRecords.h"
#include "support/TestSupport.h"

#include <cstdint>
#include <optional>
#include <string>

namespace brindell::testing {

// A fake proc file system inside a TempFolder: one folder per process with the files Brindell
// reads.
class FakeProc {
public:
    struct Process {
        Process(pid_type parentPID = 1, std::optional<std::string> exe = std::nullopt,
                std::optional<std::string> cgroupFile = std::nullopt,
                std::optional<std::string> flatpak = std::nullopt, std::uint64_t start = 100,
                std::string comm = "proc")
            : parent(parentPID), executable(std::move(exe)), cgroup(std::move(cgroupFile)),
              flatpakInfo(std::move(flatpak)), startTime(start), command(std::move(comm)) {}

        pid_type parent;
        std::optional<std::string> executable;
        std::optional<std::string> cgroup; // else a login session's
        std::optional<std::string> flatpakInfo;
        std::uint64_t startTime;
        std::string command;
    };

    explicit FakeProc(const TempFolder& tree, std::string folder = "proc")
        : tree_(tree), folder_(std::move(folder)) {
        std::filesystem::create_directories(tree_.root() / folder_);
    }

    std::string root() const { return tree_.path(folder_); }

    void add(pid_type pid, const Process& p) const {
        const std::string base = folder_ + "/" + std::to_string(pid) + "/";
        tree_.remove(base);
        tree_.write(base + "stat",
                    std::to_string(pid) + " (" + p.command + ") S " + std::to_string(p.parent) +
                        " 1 1 0 -1 4194560 100 0 0 0 5 3 0 0 20 0 1 0 " +
                        std::to_string(p.startTime) + " 1000 200 18446744073709551615\n");
        if (p.executable) {
            tree_.link(base + "exe", *p.executable);
        }
        tree_.write(base + "cgroup",
                    p.cgroup.value_or("0::/user.slice/user-1000.slice/session-2.scope\n"));
        if (p.flatpakInfo) {
            tree_.write(base + "root/.flatpak-info", *p.flatpakInfo);
        }
    }
    void remove(pid_type pid) const { tree_.remove(folder_ + "/" + std::to_string(pid)); }

private:
    const TempFolder& tree_;
    std::string folder_;
};

} // namespace brindell::testing
