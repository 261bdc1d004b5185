#pragma once

#include "settings/SettingsStorage.h"

#include <cstddef>
#include <string>

namespace brindell {

// One settings key as one file, DIRECTORY/KEY.json. A save writes a temporary file beside it,
// syncs it and renames it over the old one, so the file is at every moment either the previous
// document or the new one, whole, even when the process is killed mid-save. Mode 0600: the
// settings are the user's alone.
//
// Threading: confined to its owner's queue, like every SettingsStorage. Two storages for the
// same key (in this or another process) never tear each other's file: the last rename wins.
class FileSettingsStorage final : public SettingsStorage {
public:
    // In the user's settings folder (defaultDirectory()).
    explicit FileSettingsStorage(std::string key);
    // In the given folder, created on the first save if missing. The key must be a plain file
    // name: not empty, no '/', no leading '.'; anything else throws std::invalid_argument, since
    // keys are the program's own constants.
    FileSettingsStorage(std::string directory, std::string key);

    // $XDG_CONFIG_HOME/brindell, else ~/.config/brindell; empty when there is no home folder.
    // A relative $XDG_CONFIG_HOME is ignored, as the base directory rules ask.
    static std::string defaultDirectory();

    // None when the file is absent, not a regular file, unreadable or implausibly large.
    std::optional<Blob> load() override;
    // False when the folder cannot be made or the file cannot be written whole; the previous
    // file is then untouched and no temporary file is left behind.
    bool save(const Blob& blob) override;

    const std::string& path() const { return path_; }
    // Why the last load gave none (other than absence) or the last save failed; empty after a
    // success. For diagnostics only: normal operation logs nothing.
    const std::string& lastError() const { return lastError_; }

    // Larger files are not settings this program wrote; reading them would only cost memory.
    static constexpr std::size_t maximumSize = std::size_t{16} * 1024 * 1024;

private:
    bool makeDirectory();
    void removeStaleTemporaries() const;

    std::string directory_;
    std::string key_;
    std::string path_;
    std::string lastError_;
};

} // namespace brindell
