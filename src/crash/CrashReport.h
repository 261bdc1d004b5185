#pragma once

#include "settings/SettingsStorage.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindell {

// The only thing about a crash that ever leaves the machine: a fixed set of fields picked out of
// a crash diagnostic, each string checked against a strict pattern. Anything that does not match
// is dropped, never cleaned, so no path, user name, process id, time stamp or free text can ride
// along. A plain value; its functions are pure and may be called from any thread.
struct CrashReport {
    struct Frame {
        std::string image;        // file name of the binary image
        std::string uuid;         // the image's build UUID, upper case, 8-4-4-4-12
        std::uint64_t offset = 0; // the frame's offset into the image

        friend bool operator==(const Frame&, const Frame&) = default;
    };

    std::int64_t v = 1;
    std::string app = "brindell";
    std::string version;
    std::string build;
    std::string os;
    std::string arch; // "arm64" or "x86_64"
    std::optional<std::string> exceptionType;
    std::optional<std::int64_t> exceptionCode;
    std::optional<std::int64_t> signal;
    std::optional<std::string> termination;
    std::vector<Frame> frames; // the crashed thread, outermost call first

    static constexpr std::size_t maxFrames = 64;
    // Offsets above 2^53 cannot pass through every JSON reader unchanged.
    static constexpr std::uint64_t maxOffset = 9007199254740992ULL;

    // Builds the report from one crash diagnostic's JSON. None when the bytes are not a JSON
    // object or a required field (version, build, os, arch) is missing or fails its pattern;
    // optional fields and frames that fail are left out. Never throws.
    static std::optional<CrashReport> make(std::string_view diagnosticJSON);
    static std::optional<CrashReport> make(const Blob& diagnosticJSON);

    // Compact JSON, keys sorted, no whitespace: the body that is sent.
    Blob encoded() const;
    // Sorted keys, pretty-printed: what the user is shown. Empty if encoding fails.
    std::string prettyPrinted() const;

    // The example report the settings window shows, pretty-printed; empty if encoding fails.
    static std::string sample();
    static CrashReport sampleReport();

    friend bool operator==(const CrashReport&, const CrashReport&) = default;
};

// Mach exception type name for its number (1 "EXC_BAD_ACCESS" ... 12 "EXC_GUARD"); none for
// other numbers.
std::optional<std::string> exceptionTypeName(std::int64_t number);

} // namespace brindell
