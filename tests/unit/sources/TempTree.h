#pragma once

#include "audio/AudioRecords.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>

namespace brindell::testing {

// A fresh folder for one test, removed with everything in it at the end.
class TempTree {
public:
    TempTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "brindell-XXXXXX").native();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot make a temporary folder");
        }
        root_ = pattern;
    }
    ~TempTree() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::string path(const std::string& relative) const { return (root_ / relative).native(); }

    // Writes a file (making its folders); mode as for chmod.
    std::string write(const std::string& relative, const std::string& text,
                      std::filesystem::perms mode = std::filesystem::perms::owner_read |
                                                    std::filesystem::perms::owner_write) const {
        const std::filesystem::path file = root_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
        std::filesystem::permissions(file, mode);
        return file.native();
    }
    std::string program(const std::string& relative) const {
        return write(relative, "#!/bin/sh\n", std::filesystem::perms::owner_all);
    }
    std::string link(const std::string& relative, const std::string& target) const {
        const std::filesystem::path file = root_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::filesystem::remove(file);
        std::filesystem::create_symlink(target, file);
        return file.native();
    }
    void remove(const std::string& relative) const {
        std::filesystem::remove_all(root_ / relative);
    }

private:
    std::filesystem::path root_;
};

// A fake proc file system inside a TempTree: one folder per process with the files Brindell
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

    explicit FakeProc(const TempTree& tree, std::string folder = "proc")
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
    const TempTree& tree_;
    std::string folder_;
};

} // namespace brindell::testing
