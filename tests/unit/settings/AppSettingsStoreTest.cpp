#include "settings/AppSettingsStore.h"

#include "settings/fake/MemorySettingsStorage.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <memory>
#include <ostream>

namespace brindell {

void PrintTo(const AppSetting& s, std::ostream* out) {
    *out << "{" << s.volume << ", " << (s.isMuted ? "muted" : "unmuted") << ", "
         << (s.outputDeviceUID ? "\"" + *s.outputDeviceUID + "\"" : "none") << "}";
}

namespace {

using Table = std::map<std::string, AppSetting>;
constexpr float nan = std::numeric_limits<float>::quiet_NaN();

struct Fixture {
    explicit Fixture(std::optional<std::string> stored = std::nullopt)
        : storage(stored ? std::make_shared<MemorySettingsStorage>(*stored)
                         : std::make_shared<MemorySettingsStorage>()),
          store(storage) {
        store.onChange = [this] {
            ++changes;
            textAtChange = storage->text();
        };
    }
    std::shared_ptr<MemorySettingsStorage> storage;
    AppSettingsStore store;
    int changes = 0;
    std::optional<std::string> textAtChange; // what was stored when onChange ran
};

AppSetting make(float volume, bool muted, std::optional<std::string> uid = std::nullopt) {
    return AppSetting{volume, muted, std::move(uid)};
}

std::string document(const std::string& apps) {
    return R"({"apps":{)" + apps + R"(},"version":1})";
}

TEST(AppSettingsStoreLoad, SanitisesVolumesAndDropsWhatWouldBeTheDefault) {
    for (const char* version : {"1", "0", "-3"}) {
        SCOPED_TRACE(version);
        Fixture f(std::string(R"({"version":)") + version + R"(,"apps":{
            "loud":{"volume":1.7,"isMuted":true},
            "becomesDefault":{"volume":1.5,"isMuted":false},
            "plainDefault":{"volume":1,"isMuted":false},
            "":{"volume":0.5,"isMuted":true},
            "routed":{"volume":1,"isMuted":false,"outputDeviceUID":"hdmi"},
            "nullUID":{"volume":0.25,"isMuted":false,"outputDeviceUID":null},
            "emptyUID":{"volume":0.5,"isMuted":false,"outputDeviceUID":""},
            "underflow":{"volume":1e-50,"isMuted":true},
            "extra":{"volume":0.5,"isMuted":false,"future":[1,2]}
        },"future":{"x":1}})");
        EXPECT_EQ(f.store.apps(), (Table{{"loud", make(1.0f, true)},
                                         {"routed", make(1.0f, false, "hdmi")},
                                         {"nullUID", make(0.25f, false)},
                                         {"emptyUID", make(0.5f, false)},
                                         {"underflow", make(0.0f, true)},
                                         {"extra", make(0.5f, false)}}));
        EXPECT_FALSE(f.store.isReadOnly());
        EXPECT_FALSE(f.store.dirty());
        EXPECT_EQ(f.storage->saves, 0); // loading never rewrites the document
    }
}

TEST(AppSettingsStoreLoad, AnUndecodableDocumentGivesAnEmptyWritableTableAndIsKeptUntilAChange) {
    const char* documents[] = {
        "",
        "not json",
        R"({"apps":{}})",                                                 // no version
        R"({"version":"1","apps":{}})",                                   // version a string
        R"({"version":18446744073709551615,"apps":{}})",                  // beyond 64-bit signed
        R"({"version":1,"apps":{"a":true}})",                             // member not an object
        R"({"version":1,"apps":{"a":{"volume":0.5}}})",                   // isMuted missing
        R"({"version":1,"apps":{"a":{"volume":"0.5","isMuted":false}}})", // volume a string
        R"({"version":1,"apps":{"a":{"volume":0.5,"isMuted":false,"outputDeviceUID":7}}})",
        R"({"version":1,"apps":{"a":{"volume":1e39,"isMuted":false}}})",         // beyond a float
        "{\"version\":1,\"apps\":{\"\xff\":{\"volume\":0.5,\"isMuted\":true}}}", // bad UTF-8
        "{\"version\":1,\"apps\":{}",                                            // cut short
    };
    for (const char* stored : documents) {
        SCOPED_TRACE(stored);
        Fixture f(stored);
        EXPECT_TRUE(f.store.apps().empty());
        EXPECT_FALSE(f.store.isReadOnly());
        // A change that changes nothing leaves the user's file alone; the first real one
        // replaces it.
        f.store.setMuted(false, "a", true);
        EXPECT_EQ(f.storage->text(), stored);
        f.store.setMuted(true, "a", true);
        EXPECT_EQ(f.storage->text(), document(R"("a":{"isMuted":true,"volume":1})"));
    }
}

TEST(AppSettingsStoreLoad, ANewerVersionMakesTheStoreReadOnlyForTheRun) {
    for (const char* version : {"2", "9223372036854775807"}) {
        SCOPED_TRACE(version);
        const std::string stored =
            std::string(R"({"apps":{"a":{"isMuted":true,"volume":0.5}},"version":)") + version +
            R"(,"newField":{"x":[1]}})";
        Fixture f(stored);
        EXPECT_TRUE(f.store.isReadOnly());
        EXPECT_TRUE(f.store.apps().empty()); // the newer document's entries are not used

        // Edits take effect for the run but are never written.
        f.store.setMuted(true, "b", true);
        EXPECT_EQ(f.store.setting("b"), make(1.0f, true));
        EXPECT_FALSE(f.store.dirty());
        f.store.setVolume(0.2f, "b", false);
        EXPECT_TRUE(f.store.dirty());
        f.store.flush();
        EXPECT_FALSE(f.store.dirty());
        EXPECT_EQ(f.storage->saves, 0);
        EXPECT_EQ(f.changes, 0);
        EXPECT_EQ(f.storage->text(), stored);
    }
}

TEST(AppSettingsStoreFormat, DocumentIsCompactWithSortedKeysAndUIDOnlyWhenPresent) {
    Fixture f;
    f.store.setOutput("hdmi \"1\"\\\n", "org.zeta", false);
    f.store.setVolume(0.3f, "org.zeta", false);
    f.store.setMuted(true, "com.alpha", false);
    f.store.setVolume(0.5f, "com.alpha", false);
    f.store.setVolume(0.75f, "org.\xc3\xa9t\xc3\xa9", false); // UTF-8 kept as is
    f.store.flush();
    EXPECT_EQ(
        f.storage->text(),
        document(R"("com.alpha":{"isMuted":true,"volume":0.5},)"
                 R"("org.zeta":{"isMuted":false,"outputDeviceUID":"hdmi \"1\"\\\n","volume":0.3},)"
                 "\"org.\xc3\xa9t\xc3\xa9\":{\"isMuted\":false,\"volume\":0.75}"));
}

TEST(AppSettingsStoreFormat, VolumeIsTheShortestDecimalOfTheFloat) {
    const std::pair<float, const char*> cases[] = {
        {0.3f, "0.3"},
        {1.0f / 3.0f, "0.33333334"},
        {-0.0f, "0"},
    };
    for (const auto& [volume, text] : cases) {
        SCOPED_TRACE(text);
        Fixture f;
        f.store.setVolume(volume, "a", true);
        EXPECT_EQ(f.storage->text(),
                  document(std::string(R"("a":{"isMuted":false,"volume":)") + text + "}"));
    }
}

TEST(AppSettingsStoreFormat, EveryFloatVolumeReadsBackBitForBit) {
    // A stride through all floats in (0, 1), and one that parsing through a double and then
    // narrowing gets wrong.
    Table apps{{"doubleRounding", make(7.038531e-26f, false)}};
    for (auto bits = 1u; bits < std::bit_cast<std::uint32_t>(1.0f); bits += 99991u) {
        apps.emplace("app" + std::to_string(bits), make(std::bit_cast<float>(bits), false));
    }
    const auto decoded = AppSettingsStore::File::decode(AppSettingsStore::File::encode(1, apps));
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->apps.size(), apps.size());
    for (const auto& [id, setting] : apps) {
        ASSERT_EQ(std::bit_cast<std::uint32_t>(decoded->apps.at(id).volume),
                  std::bit_cast<std::uint32_t>(setting.volume))
            << id;
    }
}

TEST(AppSettingsStoreUpdate, ReturningToTheDefaultRemovesTheEntry) {
    Fixture f(document(R"("a":{"isMuted":false,"volume":0.5},"b":{"isMuted":true,"volume":1},)"
                       R"("c":{"isMuted":false,"outputDeviceUID":"usb","volume":1})"));
    f.store.setVolume(1.0f, "a", true);
    EXPECT_EQ(f.storage->text(),
              document(R"("b":{"isMuted":true,"volume":1},)"
                       R"("c":{"isMuted":false,"outputDeviceUID":"usb","volume":1})"));
    f.store.setMuted(false, "b", true);
    f.store.setOutput("", "c", true); // the empty UID is the default output
    EXPECT_TRUE(f.store.apps().empty());
    EXPECT_EQ(f.storage->text(), document(""));
    EXPECT_EQ(f.storage->saves, 3);
}

TEST(AppSettingsStoreUpdate, ChangesThatChangeNothingOnceCleanedNeitherWriteNorTouchDirty) {
    Fixture f;
    f.store.setMuted(false, "a", false);
    f.store.setMuted(false, "a", true);
    f.store.setOutput(std::nullopt, "a", true);
    f.store.setOutput("", "a", true);
    for (const float same : {nan, 7.0f}) { // all mean the default volume
        f.store.setVolume(same, "a", true);
    }
    f.store.setMuted(true, "", true); // the empty identifier is never stored
    f.store.setVolume(0.2f, "", false);
    EXPECT_TRUE(f.store.apps().empty());
    EXPECT_FALSE(f.store.dirty());
    EXPECT_EQ(f.storage->saves, 0);
    EXPECT_EQ(f.changes, 0);

    f.store.setVolume(0.4f, "a", true);
    f.store.setVolume(0.4f, "a", true); // the same value twice writes once
    f.store.setVolume(nan, "a", true);  // keeps the remembered volume
    f.store.setOutput("", "a", true);
    EXPECT_EQ(f.store.setting("a"), make(0.4f, false));
    EXPECT_EQ(f.storage->saves, 1);
    EXPECT_EQ(f.changes, 1);

    // A pending change survives a later no-op: dirty stays set until a flush.
    f.store.setVolume(0.6f, "a", false);
    f.store.setVolume(0.6f, "a", true);
    EXPECT_TRUE(f.store.dirty());
    EXPECT_EQ(f.storage->saves, 1);
}

TEST(AppSettingsStoreFlush, UnpersistedChangesStayDirtyUntilOneFlushWritesThemAll) {
    Fixture f;
    f.store.setVolume(0.9f, "a", false);
    f.store.setVolume(0.8f, "a", false);
    f.store.setMuted(true, "b", false);
    EXPECT_TRUE(f.store.dirty());
    EXPECT_EQ(f.storage->saves, 0);
    EXPECT_EQ(f.changes, 0);

    f.store.flush();
    EXPECT_FALSE(f.store.dirty());
    EXPECT_EQ(f.changes, 1);
    EXPECT_EQ(f.storage->text(), document(R"("a":{"isMuted":false,"volume":0.8},)"
                                          R"("b":{"isMuted":true,"volume":1})"));

    // A persisted change writes the unpersisted ones with it.
    f.store.setVolume(0.1f, "a", false);
    f.store.setMuted(false, "b", true);
    EXPECT_FALSE(f.store.dirty());
    EXPECT_EQ(f.storage->text(), document(R"("a":{"isMuted":false,"volume":0.1})"));
    EXPECT_EQ(f.storage->saves, 2);
}

TEST(AppSettingsStoreFlush, OnChangeRunsAfterEveryWriteAttemptAndARefusedWriteStaysPending) {
    Fixture f;
    f.store.setMuted(true, "a", true);
    EXPECT_EQ(f.changes, 1);
    EXPECT_EQ(f.textAtChange, f.storage->text()); // the document was saved before the call
    f.store.flush(); // a flush without changes still writes and reports
    EXPECT_EQ(f.storage->saves, 2);
    EXPECT_EQ(f.changes, 2);

    f.storage->failWrites = true;
    f.store.setVolume(0.5f, "a", true);
    EXPECT_TRUE(f.store.dirty());
    EXPECT_EQ(f.changes, 3); // reported as an attempt all the same
    f.store.setMuted(true, "b", false);
    f.storage->failWrites = false;
    f.store.onChange = nullptr; // an owner that clears it must not make flush throw
    f.store.flush();
    EXPECT_FALSE(f.store.dirty());
    EXPECT_EQ(f.storage->text(), document(R"("a":{"isMuted":true,"volume":0.5},)"
                                          R"("b":{"isMuted":true,"volume":1})"));
}

TEST(AppSettingsStoreFlush, DirectEditsAreWrittenAndUnwritableEntriesDoNotCostTheRest) {
    Fixture f(document(R"("a":{"isMuted":true,"volume":0.5},"b":{"isMuted":true,"volume":0.5})"));
    f.store.apps().erase("a");
    f.store.flush();
    EXPECT_EQ(f.storage->text(), document(R"("b":{"isMuted":true,"volume":0.5})"));

    // Identifiers come from the audio server and need not be valid UTF-8; such an entry has no
    // JSON form and stays in memory only, while every other one is still written.
    f.store.setMuted(true, "bad\xff", true);
    f.store.setOutput("dev\xc3", "c", true);
    EXPECT_EQ(f.store.apps().size(), 3u);
    EXPECT_EQ(f.storage->text(), document(R"("b":{"isMuted":true,"volume":0.5})"));
}

} // namespace
} // namespace brindell
