#include "crash/linux/CrashSignalHandler.h"

#include "crash/CrashDiagnosticWriter.h"
#include "crash/ElfBuildId.h"
#include "crash/OsRelease.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <ucontext.h>
#include <unistd.h>

// Everything the handler touches is allocated here, before any crash: the handler itself calls
// only async-signal-safe functions, plus backtrace() and dl_iterate_phdr(). Those two are not on
// the POSIX list, but the unwinder behind backtrace() already takes the loader lock through
// dl_iterate_phdr(), and backtrace() is called once at install so that its library is loaded
// then and not under the crash. An alarm ends the process should the handler ever block.

namespace brindell {
namespace {

constexpr int fatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGABRT};
constexpr unsigned handlerTimeLimitSeconds = 10;

struct HandlerState {
    char directory[PATH_MAX] = {}; // with a trailing '/'
    char version[64] = {};
    char build[64] = {};
    char os[128] = {};
    char executablePath[PATH_MAX] = {};
    const char* executableName = "";
    CapturedCrash crash;
    void* addresses[CapturedCrash::maxFrames + 16] = {};
    char diagnostic[crashDiagnosticCapacity] = {};
    char path[PATH_MAX + 64] = {};
    char partialPath[PATH_MAX + 64] = {};
};

HandlerState state;
std::atomic<bool> installed{false};
std::atomic<pid_t> handlingThread{0};
// Large enough for the unwinder and the handler's frames in sanitizer builds too.
alignas(16) char alternateStack[128 * 1024];

static_assert(std::atomic<pid_t>::is_always_lock_free, "the handler needs lock-free atomics");

void copy(char* to, std::size_t capacity, const char* from) {
    std::size_t i = 0;
    for (; i + 1 < capacity && from[i] != '\0'; ++i) {
        to[i] = from[i];
    }
    to[i] = '\0';
}

// Appends from at position `at` of a buffer; false when it does not fit.
bool append(char* to, std::size_t capacity, std::size_t& at, const char* from) {
    for (; *from != '\0'; ++from) {
        if (at + 1 >= capacity) {
            return false;
        }
        to[at++] = *from;
    }
    to[at] = '\0';
    return true;
}

const char* baseName(const char* path) {
    const char* name = path;
    for (const char* c = path; *c != '\0'; ++c) {
        if (*c == '/') {
            name = c + 1;
        }
    }
    return name;
}

std::uintptr_t programCounter(void* context) {
    const auto* uc = static_cast<const ucontext_t*>(context);
    if (uc == nullptr) {
        return 0;
    }
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.pc);
#else
    return 0;
#endif
}

struct Lookup {
    std::uintptr_t address;
    CapturedCrash::Frame* frame;
};

// dl_iterate_phdr callback: fills the frame from the image that maps the address.
int describeImage(dl_phdr_info* info, std::size_t, void* data) {
    auto* lookup = static_cast<Lookup*>(data);
    bool contains = false;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum && !contains; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        const std::uintptr_t start = info->dlpi_addr + segment.p_vaddr;
        contains = segment.p_type == PT_LOAD && lookup->address >= start &&
                   lookup->address - start < segment.p_memsz;
    }
    if (!contains) {
        return 0;
    }
    CapturedCrash::Frame& frame = *lookup->frame;
    const char* name = info->dlpi_name;
    // The main program is listed without a name.
    frame.image = name != nullptr && name[0] != '\0' ? baseName(name) : state.executableName;
    frame.offset = lookup->address - info->dlpi_addr;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_NOTE) {
            continue;
        }
        // The loader's addresses are integers; the notes are mapped there.
        const auto* notes =
            reinterpret_cast<const std::uint8_t*>( // NOLINT(performance-no-int-to-ptr)
                info->dlpi_addr + segment.p_vaddr);
        const auto id = findGnuBuildId(notes, segment.p_memsz, segment.p_align);
        if (!id.empty()) {
            formatBuildIdUUID(id, frame.uuid);
            break;
        }
    }
    return 1;
}

void describe(CapturedCrash::Frame& frame, std::uintptr_t address) {
    frame = {};
    frame.address = address;
    frame.offset = address; // unless an image maps it
    Lookup lookup{address, &frame};
    dl_iterate_phdr(describeImage, &lookup);
}

void captureFrames(void* context) {
    CapturedCrash& crash = state.crash;
    crash.frameCount = 0;
    constexpr int capacity = static_cast<int>(sizeof state.addresses / sizeof state.addresses[0]);
    const int count = backtrace(state.addresses, capacity);
    const std::uintptr_t pc = programCounter(context);
    // The unwinder starts in this handler; the crashed code begins at the interrupted pc.
    int first = 0;
    while (first < count && reinterpret_cast<std::uintptr_t>(state.addresses[first]) != pc) {
        ++first;
    }
    if (first == count) {
        // Not unwound through the signal frame: what was found is the handler's own.
        if (pc != 0) {
            describe(crash.frames[crash.frameCount++], pc);
        }
        return;
    }
    for (int i = first; i < count && crash.frameCount < CapturedCrash::maxFrames; ++i) {
        describe(crash.frames[crash.frameCount++],
                 reinterpret_cast<std::uintptr_t>(state.addresses[i]));
    }
}

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void storeDiagnostic() {
    CapturedCrash& crash = state.crash;
    const std::size_t length =
        writeCrashDiagnostic(crash, state.diagnostic, sizeof state.diagnostic);
    char name[64];
    if (length == 0 || writeCrashDiagnosticName(crash.timeSeconds, crash.timeNanoseconds, crash.pid,
                                                name, sizeof name) == 0) {
        return;
    }
    std::size_t at = 0;
    if (!append(state.path, sizeof state.path, at, state.directory) ||
        !append(state.path, sizeof state.path, at, name)) {
        return;
    }
    at = 0;
    if (!append(state.partialPath, sizeof state.partialPath, at, state.path) ||
        !append(state.partialPath, sizeof state.partialPath, at, ".tmp")) {
        return;
    }
    // Written aside and renamed, so that a reader never sees half a diagnostic.
    int fd = open(state.partialPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == ENOENT) {
        mkdir(state.directory, 0700); // removed since start; its parent usually remains
        fd = open(state.partialPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    }
    if (fd < 0) {
        return;
    }
    writeAll(fd, state.diagnostic, length);
    fsync(fd);
    close(fd);
    rename(state.partialPath, state.path);
}

void endWithDefaultAction(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    // Still blocked while the handler runs: delivered, fatally, as it returns. A fault
    // re-executes its instruction and ends the same way.
    raise(signal);
}

void onFatalSignal(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    const pid_t self = gettid();
    pid_t expected = 0;
    if (!handlingThread.compare_exchange_strong(expected, self)) {
        if (expected == self) {
            endWithDefaultAction(signal); // the handler itself failed
            errno = savedErrno;
            return;
        }
        // Another thread is writing its diagnostic and will end the process.
        for (;;) {
            const timespec second{1, 0};
            nanosleep(&second, nullptr);
        }
    }
    alarm(handlerTimeLimitSeconds);
    CapturedCrash& crash = state.crash;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    crash.timeSeconds = now.tv_sec;
    crash.timeNanoseconds = now.tv_nsec;
    crash.pid = getpid();
    crash.signal = signal;
    crash.code = info != nullptr ? info->si_code : 0;
    captureFrames(context);
    storeDiagnostic();
    endWithDefaultAction(signal);
    errno = savedErrno;
}

} // namespace

bool installCrashSignalHandler(const CrashHandlerInfo& info) {
    if (installed.exchange(true)) {
        return false;
    }
    CrashDiagnosticStore store(info.directory);
    const std::string directory = info.directory.string() + "/";
    if (!store.prepare() || directory.size() + 64 >= sizeof state.directory) {
        installed = false;
        return false;
    }
    store.prune();
    copy(state.directory, sizeof state.directory, directory.c_str());
    copy(state.version, sizeof state.version, info.version.c_str());
    copy(state.build, sizeof state.build, info.build.c_str());
    copy(state.os, sizeof state.os, systemOsVersion().c_str());
    const ssize_t length =
        readlink("/proc/self/exe", state.executablePath, sizeof state.executablePath - 1);
    state.executablePath[length > 0 ? length : 0] = '\0';
    state.executableName = baseName(state.executablePath);

    CapturedCrash& crash = state.crash;
    crash.version = state.version;
    crash.build = state.build;
    crash.os = state.os;
#if defined(__x86_64__)
    crash.arch = "x86_64";
#elif defined(__aarch64__)
    crash.arch = "arm64";
#else
    crash.arch = "unsupported";
#endif
    crash.executablePath = state.executablePath;

    backtrace(state.addresses, 1); // loads the unwinder now rather than in the handler

    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    sigaltstack(&stack, nullptr);

    struct sigaction action {};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : fatalSignals) {
        sigaddset(&action.sa_mask, signal); // one crash at a time per thread
    }
    for (int signal : fatalSignals) {
        sigaction(signal, &action, nullptr);
    }
    return true;
}

} // namespace brindell
