// The crash pipeline end to end: a program that installs the handler crashes and leaves a
// diagnostic; the next start delivers it, the controller turns it into a report and a local
// HTTPS server receives exactly the sanitised JSON.
#include "HttpsTestServer.h"
#include "crash/CrashController.h"
#include "crash/CrashDiagnostics.h"
#include "crash/CrashReport.h"
#include "crash/curl/CurlCrashSender.h"
#include "queue/ThreadQueue.h"
#include "settings/fake/MemorySettingsStorage.h"
#include "support/ChildProcess.h"
#include "support/TestSupport.h"

#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/wait.h>

#ifndef CRASH_PROBE
#error "CRASH_PROBE names the crashing test program"
#endif

namespace brindell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;

// The build-id the probe is linked with (tests/crash/CMakeLists.txt), as a UUID.
const char* const probeUUID = "01234567-89AB-CDEF-0123-456789ABCDEF";

// How far into its function the probe's crash may lie: a few instructions, more in the
// sanitizer build, where every access is checked first.
constexpr std::uint64_t siteReach = 256;

struct Crash {
    pid_t pid = 0;
    int signal = 0;         // the signal that ended it
    std::uint64_t site = 0; // offset of the crashing function in the probe
};

struct CrashPipeline : ::testing::Test {
    testing::TempFolder folder;
    fs::path state = folder.root() / "state";
    fs::path crashes = state / "brindell" / "crashes";

    Crash crash(const std::string& how) {
        testing::ChildProcess::Options options;
        options.argv = {CRASH_PROBE, how};
        options.environment = testing::currentEnvironment();
        options.environment["XDG_STATE_HOME"] = state.string();
        options.environment["HOME"] = (folder.root() / "home").string();
        options.pipeStdout = true;
        testing::ChildProcess probe(options);
        Crash result;
        result.pid = probe.pid();
        const std::string line = probe.readLine(30s).value_or("(nothing)");
        std::string word;
        std::istringstream(line) >> word >> result.site;
        EXPECT_EQ(word, "crashSite") << line;
        EXPECT_TRUE(probe.waitExit(30s)) << "the probe did not end";
        if (probe.status() && WIFSIGNALED(*probe.status())) {
            result.signal = WTERMSIG(*probe.status());
        }
        return result;
    }

    std::vector<CrashDiagnosticStore::Entry> stored() const {
        return CrashDiagnosticStore(crashes).list();
    }
    std::string read(const CrashDiagnosticStore::Entry& entry) const {
        const auto blob = CrashDiagnosticStore(crashes).read(entry);
        return blob ? std::string(blob->begin(), blob->end()) : std::string();
    }
};

TEST_F(CrashPipeline, ASegfaultAnAbortAndAStackOverflowLeaveDiagnosticsThatMakeReports) {
    const Crash segv = crash("segv");
    EXPECT_EQ(segv.signal, SIGSEGV) << "the handler lets the signal end the process";
    const Crash aborted = crash("abort");
    EXPECT_EQ(aborted.signal, SIGABRT);
    const Crash overflow = crash("overflow");
    EXPECT_EQ(overflow.signal, SIGSEGV);
    const auto entries = stored();
    ASSERT_EQ(entries.size(), 3u);
    const std::string diagnostic = read(entries[0]);
    // The diagnostic holds the local facts the report must not carry.
    const json parsed = json::parse(diagnostic);
    EXPECT_EQ(parsed["diagnosticMetaData"]["pid"], segv.pid);
    EXPECT_EQ(parsed["diagnosticMetaData"]["executablePath"], fs::canonical(CRASH_PROBE).string());
    EXPECT_EQ((fs::status(crashes).permissions() & fs::perms::all), fs::perms::owner_all);
    EXPECT_EQ((fs::status(entries[0].path).permissions() & fs::perms::all),
              fs::perms::owner_read | fs::perms::owner_write);

    const auto report = CrashReport::make(diagnostic);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->version, "3.1.4");
    EXPECT_EQ(report->build, "2718");
    EXPECT_EQ(report->exceptionType, "EXC_BAD_ACCESS");
    EXPECT_EQ(report->signal, SIGSEGV);
    EXPECT_EQ(report->exceptionCode, 1); // SEGV_MAPERR
    EXPECT_FALSE(report->os.empty());
    // The innermost frame, the last as frames run outermost first, is in the crashing function;
    // main called it, so the probe appears again further out.
    ASSERT_GE(report->frames.size(), 2u);
    const auto& innermost = report->frames.back();
    EXPECT_EQ(innermost.image, fs::path(CRASH_PROBE).filename().string());
    EXPECT_EQ(innermost.uuid, probeUUID);
    EXPECT_GE(innermost.offset, segv.site);
    EXPECT_LT(innermost.offset, segv.site + siteReach);
    EXPECT_EQ(report->frames[report->frames.size() - 2].image, innermost.image);

    const auto abortReport = CrashReport::make(read(entries[1]));
    ASSERT_TRUE(abortReport);
    EXPECT_EQ(abortReport->exceptionType, "EXC_CRASH");
    EXPECT_EQ(abortReport->signal, SIGABRT);
    // The crash site is in the C library; the probe's abortNow called it.
    bool probeFrame = false;
    for (const auto& frame : abortReport->frames) {
        probeFrame = probeFrame || (frame.uuid == probeUUID && frame.offset >= aborted.site &&
                                    frame.offset < aborted.site + siteReach);
    }
    EXPECT_TRUE(probeFrame);

    // The overflowed stack is far deeper than a report: the 64 innermost frames are kept.
    const auto overflowReport = CrashReport::make(read(entries[2]));
    ASSERT_TRUE(overflowReport);
    EXPECT_EQ(overflowReport->frames.size(), CrashReport::maxFrames);
    for (const auto& frame : overflowReport->frames) {
        EXPECT_EQ(frame.uuid, probeUUID);
    }
}

TEST_F(CrashPipeline, TheNextStartSendsExactlyTheSanitisedReports) {
    const Seconds consentGiven = systemReferenceTime() - 60;
    crash("segv");
    crash("segv");
    const auto entries = stored();
    ASSERT_EQ(entries.size(), 2u);
    // What the report makes of each diagnostic, and what it leaves out, is CrashReport's.
    std::vector<std::string> expected;
    for (const auto& entry : entries) {
        const Blob body = CrashReport::make(read(entry)).value().encoded();
        expected.emplace_back(body.begin(), body.end());
    }

    // The next start: consent was given before the crashes; the endpoint refuses the second.
    test::HttpsTestServer server(folder.root());
    server.script({201, 500});
    auto storage = std::make_shared<MemorySettingsStorage>();
    storage->set(CrashConsent::encode({1, consentGiven}));
    auto diagnostics = CrashDiagnostics::create(
        CrashDiagnosticStore(crashes), std::make_shared<ThreadQueue>("test.crash-delivery"));
    std::promise<std::int64_t> submitted;
    CrashController::Environment environment;
    environment.makeSender = [&](const std::string& url) {
        return std::make_shared<CurlCrashSender>(
            CurlCrashSender::Options{url, server.caFile().string(), 60, 20});
    };
    environment.diagnostics = diagnostics;
    environment.onSubmitted = [&](std::int64_t accepted) { submitted.set_value(accepted); };
    auto controller = CrashController::create(server.url(), storage, environment);
    ASSERT_TRUE(controller->isOn());
    controller->start();

    auto result = submitted.get_future();
    ASSERT_EQ(result.wait_for(30s), std::future_status::ready); // watchdog
    EXPECT_EQ(result.get(), 1) << "the report answered 500 is not counted";
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].body, expected[0]);
    EXPECT_EQ(requests[1].body, expected[1]);
    // Deleted on the delivery thread once handed over; the upload may finish first.
    EXPECT_TRUE(testing::waitUntil([&] { return stored().empty(); }))
        << "delivered diagnostics are deleted";
}

} // namespace
} // namespace brindell
