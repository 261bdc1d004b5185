#pragma once

#include "settings/AppSetting.h"
#include "settings/SettingsStorage.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace brindell {

// The remembered per-application settings, kept as one JSON document under "perAppSettings".
//
// Threading: created and loaded on the main thread at start-up; afterwards confined to the mixer
// engine's serial queue. It takes no locks. Ownership: shares the storage with whoever made it
// (tests keep a handle to inspect it).
class AppSettingsStore {
public:
    // The stored document. Its JSON form: compact, keys sorted, {"apps":{ID:{"isMuted":B,
    // "outputDeviceUID":S,"volume":N}},"version":1}, "outputDeviceUID" only when present and
    // the volume as the shortest decimal that reads back to the same 32-bit float.
    struct File {
        std::int64_t version = 1;
        std::map<std::string, AppSetting> apps;

        // Strict decoding: not JSON, a required key missing or a wrong type gives none. Unknown
        // keys are ignored so an older program can still read a document that has grown. The
        // volumes come back as read, not sanitised; a number beyond the float range is an
        // error.
        static std::optional<File> decode(std::string_view text);

        // Entries that cannot be represented in the document (a key or UID that is not valid
        // UTF-8, an empty key, a setting that loads as the default) are left out rather than
        // failing the whole document: every other application is still remembered. Volumes are
        // written sanitised so the document reads back to the same table.
        std::string encode() const { return encode(version, apps); }
        static std::string encode(std::int64_t version,
                                  const std::map<std::string, AppSetting>& apps);
    };

    // Loads the stored document before returning. An unreadable document gives an empty,
    // writable table and is left in place until the first real change replaces it; a document
    // of a newer version makes the store read-only for the run.
    explicit AppSettingsStore(std::shared_ptr<SettingsStorage> storage);

    AppSettingsStore(const AppSettingsStore&) = delete;
    AppSettingsStore& operator=(const AppSettingsStore&) = delete;

    // The stored setting, or the default when there is none.
    AppSetting setting(const std::string& bundleID) const;

    // Each setter changes one field. A change is written at once with persist true, otherwise
    // it only marks the store dirty for the owner's trailing flush. A call that changes nothing
    // writes nothing and leaves dirty as it was. The empty identifier is never stored.
    void setVolume(float volume, const std::string& bundleID, bool persist);
    void setMuted(bool isMuted, const std::string& bundleID, bool persist);
    // An empty UID means the default output, the same as none.
    void setOutput(std::optional<std::string> uid, const std::string& bundleID, bool persist);

    // Writes the whole table now (nothing while read-only), then calls onChange. A write the
    // storage refuses leaves dirty set, so the owner's next flush (at the latest when it stops)
    // tries again instead of losing the changes.
    void flush();

    // The table by bundle identifier. Its owner may remove entries directly and then flush.
    std::map<std::string, AppSetting>& apps() { return apps_; }
    const std::map<std::string, AppSetting>& apps() const { return apps_; }

    bool isReadOnly() const { return isReadOnly_; }
    bool dirty() const { return dirty_; }

    // Called synchronously after every write attempt, also a failed one; never while read-only.
    std::function<void()> onChange = [] {};

private:
    void load();
    void update(const std::string& bundleID, AppSetting candidate, bool persist);

    std::shared_ptr<SettingsStorage> storage_;
    std::map<std::string, AppSetting> apps_;
    bool isReadOnly_ = false;
    bool dirty_ = false;
};

} // namespace brindell
