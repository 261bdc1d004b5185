#pragma once

#include "queue/Clock.h"
#include "settings/SettingsStorage.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace brindell {

// The folder the fatal-signal handler writes crash diagnostics into, one file per crash, named
// "<seconds>.<nanoseconds>-<pid>.json" after the crash time (written as "<name>.tmp" first, then
// renamed). Files of other names are not its own and are left alone. Methods are safe to call
// from any thread; several processes may use one folder.
class CrashDiagnosticStore {
public:
    // More than this many stored crashes are not kept: the oldest go first.
    static constexpr std::size_t maxStored = 32;
    // A larger file is not one of the handler's and is not read.
    static constexpr std::uintmax_t maxBytes = 1 << 20;

    struct Entry {
        std::filesystem::path path;
        Seconds crashTime = 0; // seconds since 1970
    };

    explicit CrashDiagnosticStore(std::filesystem::path directory);

    // $XDG_STATE_HOME/brindell/crashes when XDG_STATE_HOME is an absolute path, else
    // $HOME/.local/state/brindell/crashes; empty when neither can be found.
    static std::filesystem::path defaultDirectory();

    // The crash time a diagnostic's file name carries; none for other names.
    static std::optional<Seconds> crashTimeOfName(std::string_view name);

    const std::filesystem::path& directory() const { return directory_; }

    // Creates the folder (mode 0700). False when it does not exist afterwards.
    bool prepare() const;

    // The stored diagnostics, oldest first.
    std::vector<Entry> list() const;

    // The file's bytes; none when it cannot be read or is larger than maxBytes.
    std::optional<Blob> read(const Entry& entry) const;

    bool remove(const Entry& entry) const;

    // Removes all but the newest `keep` diagnostics, and partial files a crash left behind.
    void prune(std::size_t keep = maxStored) const;

private:
    std::filesystem::path directory_;
};

} // namespace brindell
