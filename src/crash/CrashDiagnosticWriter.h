#pragma once

#include <cstddef>
#include <cstdint>

namespace brindell {

// A crash as the fatal-signal handler captures it: plain data in fixed storage, so that it can
// be filled and written without allocating. Strings are borrowed and NUL-terminated.
struct CapturedCrash {
    static constexpr std::size_t maxFrames = 64;

    struct Frame {
        const char* image = "";   // the image's file name
        char uuid[37] = {};       // its build UUID, "" when it has none
        std::uint64_t offset = 0; // pc minus the image's load base
        std::uint64_t address = 0;
    };

    std::int64_t timeSeconds = 0; // wall clock, since 1970
    std::int64_t timeNanoseconds = 0;
    std::int64_t pid = 0;
    int signal = 0;
    int code = 0; // the signal's si_code
    const char* version = "";
    const char* build = "";
    const char* os = "";
    const char* arch = "";
    const char* executablePath = "";
    Frame frames[maxFrames]; // innermost first: frames[0] is where the crash happened
    std::size_t frameCount = 0;
};

// Room for the largest diagnostic: 64 frames with 64-character names and a 4096-byte path,
// every byte of which may need six to escape.
inline constexpr std::size_t crashDiagnosticCapacity = std::size_t{64} * 1024;

// The exception type number a signal stands for: SEGV and BUS 1, ILL 2, FPE 3, TRAP 6, ABRT 10;
// 0 for other signals.
int exceptionTypeForSignal(int signal);

// Writes the crash as the diagnostic JSON that CrashReport::make reads, frames outermost call
// first. The diagnostic also keeps what is only of local use (time, pid, executable path, raw
// addresses); the report drops it. Bytes above 0x7f are written as \u00XX so that the document
// is valid JSON whatever the paths hold. Returns the length, or 0 when it does not fit.
// Async-signal-safe.
std::size_t writeCrashDiagnostic(const CapturedCrash& crash, char* buffer, std::size_t capacity);

// The diagnostic's file name, "<seconds>.<nanoseconds, 9 digits>-<pid>.json", NUL-terminated.
// Returns its length, or 0 when it does not fit. Async-signal-safe.
std::size_t writeCrashDiagnosticName(std::int64_t seconds, std::int64_t nanoseconds,
                                     std::int64_t pid, char* buffer, std::size_t capacity);

} // namespace brindell
