#pragma once

#include "login/LoginItemService.h"

#include <memory>
#include <string>
#include <string_view>

namespace brindell {

// Opening at login through an XDG autostart entry,
// <config home>/autostart/com.quorvel.taskor.brindell.desktop. Enabled while the entry exists
// and is not Hidden; never requires approval. Main thread only.
class AutostartLoginItem final : public LoginItemService {
public:
    static constexpr const char* entryFileName = "com.quorvel.taskor.brindell.desktop";

    // configHome is the user's configuration folder ($XDG_CONFIG_HOME); executablePath the
    // program the entry starts. An empty configHome makes every write fail with a message.
    AutostartLoginItem(std::string configHome, std::string executablePath);

    // For the running user and program: $XDG_CONFIG_HOME when absolute, else $HOME/.config;
    // the executable behind /proc/self/exe.
    static std::shared_ptr<AutostartLoginItem> forCurrentUser();

    std::int64_t status() override;
    // Writes the entry (temp file, fsync, rename), creating the autostart folder if needed.
    void registerItem() override;
    // Removes the entry; an entry that is already gone is success.
    void unregisterItem() override;

    std::string entryPath() const;
    // The entry's full text.
    std::string entryText() const;

private:
    std::string configHome_;
    std::string executablePath_;
};

// The user's configuration folder by the XDG rules; empty when neither XDG_CONFIG_HOME (absolute)
// nor a home folder is known.
std::string userConfigHome();

// The running program's path, without the " (deleted)" the kernel appends after an upgrade
// replaced the file. Empty when unknown.
std::string runningExecutablePath();

// path as one quoted argument of a desktop entry's Exec key, escaped for the entry's string
// rules. Throws LoginItemError for a path no launcher could run: empty, not valid UTF-8, or with
// control characters such as a line break.
std::string desktopExecArgument(std::string_view path);

} // namespace brindell
