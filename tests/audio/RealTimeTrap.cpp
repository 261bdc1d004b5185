#include "RealTimeTrap.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer owns malloc and operator new; it calls the hooks installed below for every
// allocation and free.
extern "C" void __sanitizer_print_stack_trace();
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*));
#endif

namespace {

thread_local bool inCycle = false;
std::atomic<std::uint64_t> cycles{0};

[[noreturn]] void trapped(const char* what) {
    inCycle = false; // what follows may allocate
    constexpr const char prefix[] = "real-time trap: ";
    constexpr const char suffix[] = " in an IO node's process cycle\n";
    (void)!write(STDERR_FILENO, prefix, sizeof prefix - 1);
    (void)!write(STDERR_FILENO, what, std::strlen(what));
    (void)!write(STDERR_FILENO, suffix, sizeof suffix - 1);
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_print_stack_trace();
#endif
    std::abort();
}

} // namespace

extern "C" void brindell_realtime_enter() {
    inCycle = true;
    cycles.fetch_add(1, std::memory_order_relaxed);
}

extern "C" void brindell_realtime_leave() {
    inCycle = false;
}

std::uint64_t brindell::testing::realTimeCycles() {
    return cycles.load(std::memory_order_relaxed);
}

#if defined(__SANITIZE_ADDRESS__)
namespace {
[[maybe_unused]] const int hooked = __sanitizer_install_malloc_and_free_hooks(
    [](const volatile void*, size_t) {
        if (inCycle) {
            trapped("allocation");
        }
    },
    [](const volatile void*) {
        if (inCycle) {
            trapped("free");
        }
    });
} // namespace
#else
// operator new and delete go through these.
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void __libc_free(void*);

extern "C" void* malloc(size_t size) noexcept {
    if (inCycle) {
        trapped("allocation");
    }
    return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) noexcept {
    if (inCycle) {
        trapped("allocation");
    }
    return __libc_calloc(count, size);
}
extern "C" void* realloc(void* old, size_t size) noexcept {
    if (inCycle) {
        trapped("allocation");
    }
    return __libc_realloc(old, size);
}
extern "C" void free(void* memory) noexcept {
    if (inCycle && memory != nullptr) {
        trapped("free");
    }
    __libc_free(memory);
}
#endif

// Also std::mutex::lock. The next definition (the C library's, or the sanitizer's) is looked up
// on first use, before any cycle runs.
extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) noexcept {
    using Lock = int (*)(pthread_mutex_t*);
    static std::atomic<Lock> next{nullptr};
    if (inCycle) {
        trapped("pthread_mutex_lock");
    }
    Lock lock = next.load(std::memory_order_relaxed);
    if (lock == nullptr) {
        lock = reinterpret_cast<Lock>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
        next.store(lock, std::memory_order_relaxed);
    }
    return lock(mutex);
}
