#include "app/CrashReporting.h"

#include "app/Diagnostics.h"
#include "crash/CrashDiagnostics.h"
#include "crash/CrashEndpoint.h"
#include "crash/CrashReport.h"
#include "crash/curl/CurlCrashSender.h"
#include "crash/linux/CrashSignalHandler.h"
#include "queue/ThreadQueue.h"

#include <cstdint>
#include <cstdio>

#ifndef BRINDELL_VERSION
#define BRINDELL_VERSION "0.0.0"
#endif
#ifndef BRINDELL_BUILD_NUMBER
#define BRINDELL_BUILD_NUMBER "0"
#endif
#ifndef BRINDELL_CRASH_ENDPOINT
#define BRINDELL_CRASH_ENDPOINT ""
#endif

namespace brindell {

std::optional<std::string> configuredCrashEndpoint() {
    return crashIntakeEndpoint(BRINDELL_CRASH_ENDPOINT);
}

bool installCrashHandler() {
    return installCrashSignalHandler({BRINDELL_VERSION, BRINDELL_BUILD_NUMBER});
}

std::shared_ptr<CrashController>
makeCrashController(std::shared_ptr<SettingsStorage> consentStorage) {
    CrashController::Environment environment;
    environment.makeSender = [](const std::string& endpoint) -> std::shared_ptr<CrashSender> {
        CurlCrashSender::Options options;
        options.url = endpoint;
        return std::make_shared<CurlCrashSender>(std::move(options));
    };
    environment.diagnostics = CrashDiagnostics::create(
        CrashDiagnosticStore(CrashDiagnosticStore::defaultDirectory()),
        std::make_shared<ThreadQueue>("com.quorvel.taskor.brindell.crash-diagnostics"));
    return CrashController::create(configuredCrashEndpoint(), std::move(consentStorage),
                                   std::move(environment));
}

namespace {

// An address no program maps; not null, so that the sanitizers let the access reach the CPU.
volatile std::uintptr_t unmappedAddress = 16;

int crashNow() {
    if (!installCrashHandler()) {
        writeLog("crashtest.log", "crash handler not installed: no state folder\n", false);
        std::fputs("brindell: crash handler not installed: no state folder\n", stderr);
        return 1;
    }
    writeLog("crashtest.log",
             "crashing on purpose; the diagnostic goes to " +
                 CrashDiagnosticStore::defaultDirectory().string() + "\n",
             false);
    // A crash by design: the address is unmapped.
    *reinterpret_cast<volatile int*>(unmappedAddress) = 1; // NOLINT(performance-no-int-to-ptr)
    return 1;                                              // not reached
}

int showStored() {
    const CrashDiagnosticStore store(CrashDiagnosticStore::defaultDirectory());
    const auto endpoint = configuredCrashEndpoint();
    std::string log = "crash diagnostics in " + store.directory().string() + "\n";
    log +=
        "intake endpoint: " + (endpoint ? *endpoint : std::string("none (reporting off)")) + "\n";
    const auto entries = store.list();
    for (const auto& entry : entries) {
        log += "\n" + entry.path.filename().string() + "\n";
        const auto bytes = store.read(entry);
        const auto report = bytes ? CrashReport::make(*bytes) : std::nullopt;
        log += report ? report->prettyPrinted() + "\n" : "no report: not a usable diagnostic\n";
    }
    log += "\n" + std::to_string(entries.size()) + " stored; nothing sent or deleted\n";
    log += "\nexample report:\n" + CrashReport::sample() + "\n";
    const bool written = writeLog("crashtest.log", log, false);
    std::fputs(log.c_str(), stdout);
    return written ? 0 : 1;
}

} // namespace

int crashTestMain(const std::string& action) {
    if (action == "crash") {
        return crashNow();
    }
    return showStored();
}

} // namespace brindell
