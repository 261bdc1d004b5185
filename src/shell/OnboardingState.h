#pragma once

#include "settings/SettingsStorage.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace brindell {

// Whether the first-run onboarding has been finished, kept under the settings key "onboarding"
// as {"completed":true,"version":1}. Holds no state of its own: every question reads the
// storage, so a record written by the shell counts at once. Qt-free.
//
// Threading: main thread only (the storage is the shell's).
class OnboardingState {
public:
    struct File {
        std::int64_t version = 1; // ignored when reading
        bool completed = false;

        friend bool operator==(const File&, const File&) = default;
    };

    explicit OnboardingState(std::shared_ptr<SettingsStorage> storage);

    // Read anew on every call: none, an undecodable blob or completed false all mean not yet.
    bool completed() const;

    // Saves {"completed":true,"version":1}. False when nothing could be saved; onboarding then
    // counts as not completed at the next launch.
    bool markCompleted();

    SettingsStorage& storage() const { return *storage_; }

    // None unless the blob is a JSON object with an integer "version" and a boolean "completed".
    static std::optional<File> decode(const Blob& blob);
    // Compact JSON; none if encoding fails.
    static std::optional<Blob> encode(const File& file);

private:
    std::shared_ptr<SettingsStorage> storage_;
};

} // namespace brindell
