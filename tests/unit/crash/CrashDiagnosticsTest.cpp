#include "crash/CrashDiagnostics.h"

#include "crash/CrashConsent.h"
#include "queue/DeterministicQueue.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace brindell {
namespace {

namespace fs = std::filesystem;

using testing::TempFolder;

void put(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

TEST(CrashDiagnosticStore, ReadsTheCrashTimeFromItsOwnNamesOnly) {
    EXPECT_DOUBLE_EQ(*CrashDiagnosticStore::crashTimeOfName("1712345678.500000000-977.json"),
                     1712345678.5);
    for (const char* foreign :
         {"1712345678.500000000-977.json.tmp", "1712345678.5-977.json", "1712345678-977.json",
          "1712345678.500000000-97a.json", "notes.txt", "-1.000000000-1.json"}) {
        EXPECT_EQ(CrashDiagnosticStore::crashTimeOfName(foreign), std::nullopt) << foreign;
    }
}

TEST(CrashDiagnosticStore, FindsItsFolderUnderTheStateHome) {
    testing::ScopedEnvironment environment{{"HOME", "/home/u"}, {"XDG_STATE_HOME", "/state"}};
    EXPECT_EQ(CrashDiagnosticStore::defaultDirectory(), fs::path("/state/brindell/crashes"));
    environment.set("XDG_STATE_HOME", "relative/state"); // not absolute: ignored, as XDG says
    EXPECT_EQ(CrashDiagnosticStore::defaultDirectory(),
              fs::path("/home/u/.local/state/brindell/crashes"));
    environment.set("XDG_STATE_HOME", std::nullopt);
    environment.set("HOME", std::nullopt);
    EXPECT_EQ(CrashDiagnosticStore::defaultDirectory(), fs::path());
}

TEST(CrashDiagnosticStore, ListsOldestFirstAndPrunesOldAndPartialFiles) {
    TempFolder folder;
    const fs::path dir = folder.root() / "brindell" / "crashes";
    CrashDiagnosticStore store(dir);
    ASSERT_TRUE(store.prepare());
    EXPECT_EQ(fs::status(dir).permissions() & fs::perms::all, fs::perms::owner_all);
    for (int i = 5; i >= 1; --i) {
        put(dir / (std::to_string(1000 + i) + ".000000000-1.json"), "{}");
    }
    put(dir / "readme.txt", "not ours");
    put(dir / "1009.000000000-1.json.tmp", "{\"half");
    put(dir / "1010.000000000-1.json.tmp", "{\"being written");
    fs::last_write_time(dir / "1009.000000000-1.json.tmp",
                        fs::file_time_type::clock::now() - std::chrono::hours(1));
    auto entries = store.list();
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries.front().crashTime, 1001.0);
    EXPECT_EQ(entries.back().crashTime, 1005.0);

    store.prune(2);
    entries = store.list();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries.front().crashTime, 1004.0);
    EXPECT_TRUE(fs::exists(dir / "readme.txt"));
    EXPECT_FALSE(fs::exists(dir / "1009.000000000-1.json.tmp"));
    EXPECT_TRUE(fs::exists(dir / "1010.000000000-1.json.tmp")); // may still be being written

    CrashDiagnosticStore missing(folder.root() / "nowhere");
    EXPECT_TRUE(missing.list().empty());
    EXPECT_FALSE(CrashDiagnosticStore(fs::path()).prepare());
}

struct Subscriber final : DiagnosticPayloadSubscriber {
    std::vector<std::vector<DiagnosticPayload>> received;
    void didReceive(const std::vector<DiagnosticPayload>& payloads) override {
        received.push_back(payloads);
    }
};

struct CrashDiagnosticsDelivery : ::testing::Test {
    TempFolder folder;
    DeterministicScheduler scheduler;
    CrashDiagnosticStore store{folder.root()};
    std::shared_ptr<CrashDiagnostics> diagnostics =
        CrashDiagnostics::create(store, scheduler.makeQueue("delivery"));
    std::shared_ptr<Subscriber> subscriber = std::make_shared<Subscriber>();

    std::string bytes(const DiagnosticPayload& payload) {
        const auto& blob = payload.crashDiagnostics.at(0);
        return std::string(blob.begin(), blob.end());
    }
};

TEST_F(CrashDiagnosticsDelivery, DeliversEachStoredCrashStampedWithItsTimeThenDeletesIt) {
    put(folder.root() / "978307300.250000000-12.json", "second");
    put(folder.root() / "978307200.000000000-11.json", "first");
    put(folder.root() / "other.json", "foreign");
    diagnostics->addSubscriber(subscriber);
    EXPECT_TRUE(subscriber->received.empty()); // delivered on the queue, not in the call
    scheduler.runPending();
    ASSERT_EQ(subscriber->received.size(), 1u);
    const auto& payloads = subscriber->received[0];
    ASSERT_EQ(payloads.size(), 2u);
    EXPECT_EQ(payloads[0].beginTimeStamp, 0.0); // 2001-01-01, the reference date
    EXPECT_EQ(bytes(payloads[0]), "first");
    EXPECT_DOUBLE_EQ(payloads[1].beginTimeStamp, 100.25);
    EXPECT_EQ(bytes(payloads[1]), "second");
    EXPECT_TRUE(store.list().empty());
    EXPECT_TRUE(fs::exists(folder.root() / "other.json"));

    // Delivered once only; adding again finds nothing new.
    diagnostics->addSubscriber(subscriber);
    scheduler.runPending();
    EXPECT_EQ(subscriber->received.size(), 1u);
}

TEST_F(CrashDiagnosticsDelivery, KeepsDiagnosticsWhileNobodyListens) {
    put(folder.root() / "978307200.000000000-11.json", "kept");
    diagnostics->addSubscriber(subscriber);
    diagnostics->removeSubscriber(subscriber.get());
    scheduler.runPending();
    auto gone = std::make_shared<Subscriber>();
    diagnostics->addSubscriber(gone);
    gone.reset();
    scheduler.runPending();
    EXPECT_EQ(store.list().size(), 1u);
    EXPECT_TRUE(subscriber->received.empty());
}

TEST_F(CrashDiagnosticsDelivery, DropsOversizedFilesUnreadAndStopsWithItsOwner) {
    put(folder.root() / "978307200.000000000-11.json",
        std::string(CrashDiagnosticStore::maxBytes + 1, ' '));
    put(folder.root() / "978307201.000000000-11.json", "fine");
    diagnostics->addSubscriber(subscriber);
    scheduler.runPending();
    ASSERT_EQ(subscriber->received.size(), 1u);
    ASSERT_EQ(subscriber->received[0].size(), 1u);
    EXPECT_EQ(bytes(subscriber->received[0][0]), "fine");
    EXPECT_TRUE(store.list().empty());

    put(folder.root() / "978307202.000000000-11.json", "later");
    diagnostics->addSubscriber(subscriber);
    diagnostics.reset(); // the queued delivery finds its owner gone
    scheduler.runPending();
    EXPECT_EQ(subscriber->received.size(), 1u);
    EXPECT_EQ(store.list().size(), 1u);
}

} // namespace
} // namespace brindell
