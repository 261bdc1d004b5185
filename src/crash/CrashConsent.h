#pragma once

#include "queue/Clock.h"
#include "settings/SettingsStorage.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace brindell {

// Seconds between 1970-01-01 and 2001-01-01 UTC, the reference date of stored times.
inline constexpr Seconds referenceDateOffset = 978307200.0;

// The wall clock as seconds since 2001-01-01 00:00:00 UTC.
Seconds systemReferenceTime();

// The user's consent to crash reports and the moment it was given, kept under the settings key
// "crashconsent" as {"since": <seconds since 2001>, "version": 1}; without "since" it is off.
// Crashes from before "since" are never sent. Holds no state of its own: every question reads
// the storage, so two consents over one storage always agree. Use it from one thread at a time,
// or over a storage that serialises its calls.
class CrashConsent {
public:
    struct File {
        std::int64_t version = 1;
        std::optional<Seconds> since; // present while consent is given

        friend bool operator==(const File&, const File&) = default;
    };

    // now: the current time in seconds since 2001-01-01 UTC.
    CrashConsent(std::shared_ptr<SettingsStorage> storage, std::function<Seconds()> now);

    // The stored consent time; none when off, absent or unreadable.
    std::optional<Seconds> since() const;
    bool isOn() const { return since().has_value(); }

    // Turns consent on (since now) or off, writing only when that changes the state. False when
    // the write failed; the stored consent then stays as it was.
    bool set(bool on);

    // None when the blob is not a JSON object with an integer "version" and, if present, a
    // numeric "since".
    static std::optional<File> decode(const Blob& blob);
    static Blob encode(const File& file);

private:
    std::shared_ptr<SettingsStorage> storage_;
    std::function<Seconds()> now_;
};

} // namespace brindell
