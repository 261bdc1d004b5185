// A program that installs the crash handler and then crashes as asked: "segv" (a write to an
// unmapped address), "abort" or "overflow" (unbounded recursion). Before crashing it prints
// "crashSite <offset>": the offset of its crashing function within its own image, for the
// test to find in the report.
#include "crash/linux/CrashSignalHandler.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <link.h>
#include <string>

namespace {

// An address no program maps; not null, so that the sanitizers let the access reach the CPU.
volatile std::uintptr_t unmapped = 16;

void writeToUnmapped() {
    *reinterpret_cast<volatile int*>(unmapped) = 1;
}

// Never reached: only there so the compiler does not see endless recursion.
volatile int recursionLimit = 1 << 30;

int recurse(int depth) {
    volatile char frame[256];
    frame[0] = static_cast<char>(depth);
    if (depth >= recursionLimit) {
        return 0;
    }
    return recurse(depth + 1) + frame[0]; // not a tail call: every level keeps its frame
}

void overflow() {
    std::printf("depth %d\n", recurse(0));
}

void abortNow() {
    std::abort();
}

std::uintptr_t mainImageBase() {
    std::uintptr_t base = 0;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            *static_cast<std::uintptr_t*>(data) = info->dlpi_addr; // the program comes first
            return 1;
        },
        &base);
    return base;
}

} // namespace

int main(int argc, char** argv) {
    const std::string how = argc == 2 ? argv[1] : "";
    void (*crash)() = how == "segv"       ? writeToUnmapped
                      : how == "abort"    ? abortNow
                      : how == "overflow" ? overflow
                                          : nullptr;
    if (crash == nullptr) {
        std::fprintf(stderr, "usage: crash_probe segv|abort|overflow\n");
        return 2;
    }
    if (!brindell::installCrashSignalHandler({"3.1.4", "2718"})) {
        std::fprintf(stderr, "crash_probe: handler not installed\n");
        return 3;
    }
    std::printf("crashSite %ju\n", static_cast<std::uintmax_t>(
                                       reinterpret_cast<std::uintptr_t>(crash) - mainImageBase()));
    std::fflush(stdout);
    // Called through a volatile pointer so that the function is neither inlined nor cloned.
    void (*volatile call)() = crash;
    call();
    return 0;
}
