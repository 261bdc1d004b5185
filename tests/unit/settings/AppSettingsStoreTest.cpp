#include "settings/AppSettingsStore.h"

#include "settings/fake/MemorySettingsStorage.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <memory>

namespace brindell {
namespace {

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

std::string shortest(float value) {
    char buffer[32];
    return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

// ---- load ----

TEST(AppSettingsStoreLoad, WithoutDocumentEveryAppHasTheDefaultAndNothingIsWritten) {
    Fixture f;
    EXPECT_EQ(f.store.setting("org.example.player"), AppSetting{});
    EXPECT_EQ(f.store.setting("").volume, 1.0f);
    EXPECT_FALSE(f.store.setting("x").outputDeviceUID);
    EXPECT_TRUE(f.store.apps().empty());
    EXPECT_FALSE(f.store.isReadOnly());
    EXPECT_FALSE(f.store.dirty());
    EXPECT_EQ(f.storage->loads, 1);
    EXPECT_EQ(f.storage->saves, 0);
}

TEST(AppSettingsStoreLoad, SanitisesVolumesAndDropsWhatWouldBeTheDefault) {
    Fixture f(R"({"version":1,"apps":{
        "loud":{"volume":1.7,"isMuted":true},
        "negative":{"volume":-0.2,"isMuted":false},
        "becomesDefault":{"volume":1.5,"isMuted":false},
        "plainDefault":{"volume":1,"isMuted":false},
        "":{"volume":0.5,"isMuted":true},
        "routed":{"volume":1,"isMuted":false,"outputDeviceUID":"hdmi"},
        "nullUID":{"volume":0.25,"isMuted":false,"outputDeviceUID":null},
        "integer":{"volume":0,"isMuted":false},
        "huge":{"volume":3.4e38,"isMuted":true},
        "tiny":{"volume":-3.4e38,"isMuted":false},
        "denormal":{"volume":1e-50,"isMuted":true},
        "extra":{"volume":0.5,"isMuted":false,"future":[1,2]}
    },"future":{"x":1}})");
    const auto& apps = f.store.apps();
    EXPECT_EQ(apps.size(), 9u);
    EXPECT_EQ(f.store.setting("loud"), make(1.0f, true));
    EXPECT_EQ(f.store.setting("negative"), make(0.0f, false));
    EXPECT_FALSE(std::signbit(f.store.setting("negative").volume));
    EXPECT_EQ(apps.count("becomesDefault"), 0u);
    EXPECT_EQ(apps.count("plainDefault"), 0u);
    EXPECT_EQ(apps.count(""), 0u);
    EXPECT_EQ(f.store.setting("routed"), make(1.0f, false, "hdmi"));
    EXPECT_EQ(f.store.setting("nullUID"), make(0.25f, false));
    EXPECT_EQ(f.store.setting("integer"), make(0.0f, false));
    EXPECT_EQ(f.store.setting("huge"), make(1.0f, true));
    EXPECT_EQ(f.store.setting("tiny"), make(0.0f, false));
    EXPECT_EQ(f.store.setting("denormal"), make(0.0f, true));
    EXPECT_EQ(f.store.setting("extra"), make(0.5f, false));
    EXPECT_FALSE(f.store.isReadOnly());
    EXPECT_FALSE(f.store.dirty());
    EXPECT_EQ(f.storage->saves, 0); // loading never rewrites the document
}

TEST(AppSettingsStoreLoad, OlderAndNegativeVersionsAreRead) {
    for (const char* version : {"1", "0", "-3"}) {
        SCOPED_TRACE(version);
        Fixture f(std::string(R"({"apps":{"a":{"isMuted":true,"volume":0.5}},"version":)") +
                  version + "}");
        EXPECT_EQ(f.store.setting("a"), make(0.5f, true));
        EXPECT_FALSE(f.store.isReadOnly());
    }
}

TEST(AppSettingsStoreLoad, AnUndecodableDocumentGivesAnEmptyWritableTableAndIsKeptUntilAChange) {
    const char* documents[] = {
        "",
        "not json",
        "null",
        "[]",
        R"({"apps":{}})",                                                 // no version
        R"({"version":1})",                                               // no apps
        R"({"version":"1","apps":{}})",                                   // version a string
        R"({"version":1.5,"apps":{}})",                                   // version not integer
        R"({"version":18446744073709551615,"apps":{}})",                  // beyond 64-bit signed
        R"({"version":1,"apps":[]})",                                     // apps not an object
        R"({"version":1,"apps":{"a":{"volume":0.5}}})",                   // isMuted missing
        R"({"version":1,"apps":{"a":{"isMuted":false}}})",                // volume missing
        R"({"version":1,"apps":{"a":{"volume":"0.5","isMuted":false}}})", // volume a string
        R"({"version":1,"apps":{"a":{"volume":null,"isMuted":false}}})",  // volume null
        R"({"version":1,"apps":{"a":{"volume":0.5,"isMuted":0}}})",       // isMuted a number
        R"({"version":1,"apps":{"a":{"volume":0.5,"isMuted":false,"outputDeviceUID":7}}})",
        R"({"version":1,"apps":{"a":true}})",                            // member not an object
        R"({"version":1,"apps":{"a":{"volume":1e39,"isMuted":false}}})", // beyond a float
        R"({"version":1,"apps":{}} trailing)",
        R"({"version":1,"apps":{"a":{"volume":0.5,"isMuted":true}},})",          // trailing comma
        "{\"version\":1,\"apps\":{\"\xff\":{\"volume\":0.5,\"isMuted\":true}}}", // bad UTF-8
        "{\"version\":1,\"apps\":{}",                                            // cut short
    };
    for (const char* document : documents) {
        SCOPED_TRACE(document);
        Fixture f(document);
        EXPECT_TRUE(f.store.apps().empty());
        EXPECT_FALSE(f.store.isReadOnly());
        EXPECT_EQ(f.store.setting("a"), AppSetting{});
        // Looking at it or a change that changes nothing leaves the user's file alone.
        f.store.setMuted(false, "a", true);
        EXPECT_EQ(f.storage->saves, 0);
        EXPECT_EQ(f.storage->text(), document);
        // The first real change replaces it.
        f.store.setMuted(true, "a", true);
        EXPECT_EQ(f.storage->text(), R"({"apps":{"a":{"isMuted":true,"volume":1}},"version":1})");
    }
}

TEST(AppSettingsStoreLoad, ANewerVersionMakesTheStoreReadOnlyForTheRun) {
    for (const char* version : {"2", "3", "9223372036854775807"}) {
        SCOPED_TRACE(version);
        const std::string document =
            std::string(R"({"apps":{"a":{"isMuted":true,"volume":0.5}},"version":)") + version +
            R"(,"newField":{"x":[1]}})";
        Fixture f(document);
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
        EXPECT_EQ(f.storage->text(), document);
    }
}

// ---- the written form ----

TEST(AppSettingsStoreFormat, DocumentIsCompactWithSortedKeysAndUIDOnlyWhenPresent) {
    Fixture f;
    f.store.setOutput("hdmi \"1\"\\\n", "org.zeta", false);
    f.store.setVolume(0.3f, "org.zeta", false);
    f.store.setMuted(true, "com.alpha", false);
    f.store.setVolume(0.5f, "com.alpha", false);
    f.store.setVolume(0.75f, "org.\xc3\xa9t\xc3\xa9", false); // UTF-8 kept as is
    f.store.flush();
    EXPECT_EQ(f.storage->text(),
              R"({"apps":{"com.alpha":{"isMuted":true,"volume":0.5},)"
              R"("org.zeta":{"isMuted":false,"outputDeviceUID":"hdmi \"1\"\\\n","volume":0.3},)"
              "\"org.\xc3\xa9t\xc3\xa9\":{\"isMuted\":false,\"volume\":0.75}},\"version\":1}");
}

TEST(AppSettingsStoreFormat, VolumeIsTheShortestDecimalOfTheFloat) {
    struct Case {
        float volume;
        const char* text;
    };
    const Case cases[] = {
        {0.3f, "0.3"},
        {0.1f, "0.1"},
        {0.7f, "0.7"},
        {0.25f, "0.25"},
        {1.0f / 3.0f, "0.33333334"},
        {0.99999994f, "0.99999994"},
        {0.0f, "0"},
        {-0.0f, "0"},
        {1e-45f, "1e-45"},
        {std::numeric_limits<float>::min(), "1.1754944e-38"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Fixture f;
        f.store.setVolume(c.volume, "a", true);
        EXPECT_EQ(f.storage->text(), std::string(R"({"apps":{"a":{"isMuted":false,"volume":)") +
                                         c.text + "}},\"version\":1}");
    }
}

TEST(AppSettingsStoreFormat, EveryFloatVolumeReadsBackBitForBit) {
    // A stride through all floats in (0, 1), and one that parsing through a double and then
    // narrowing gets wrong.
    const auto oneBits = std::bit_cast<std::uint32_t>(1.0f);
    std::map<std::string, AppSetting> apps;
    apps.emplace("doubleRounding", make(7.038531e-26f, false));
    int index = 0;
    for (std::uint32_t bits = 1; bits < oneBits; bits += 99991) {
        apps.emplace("app" + std::to_string(index++), make(std::bit_cast<float>(bits), false));
    }
    const std::string text = AppSettingsStore::File::encode(1, apps);
    const auto decoded = AppSettingsStore::File::decode(text);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->apps.size(), apps.size());
    for (const auto& [id, setting] : apps) {
        const float back = decoded->apps.at(id).volume;
        ASSERT_EQ(std::bit_cast<std::uint32_t>(back), std::bit_cast<std::uint32_t>(setting.volume))
            << id << " written as " << shortest(setting.volume);
    }
}

TEST(AppSettingsStoreFormat, LoadingAWrittenDocumentGivesTheSameTableAndTheSameText) {
    Fixture f;
    f.store.setVolume(0.123456789f, "a", false);
    f.store.setOutput("usb", "b", false);
    f.store.setMuted(true, "c", false);
    f.store.setVolume(1e-30f, "c", false);
    f.store.flush();
    const std::optional<std::string> first = f.storage->text();

    auto again = std::make_shared<MemorySettingsStorage>(*first);
    AppSettingsStore reloaded(again);
    EXPECT_EQ(reloaded.apps(), f.store.apps());
    reloaded.flush();
    EXPECT_EQ(again->text(), first);
}

// ---- updates ----

TEST(AppSettingsStoreUpdate, ReturningToTheDefaultRemovesTheEntry) {
    Fixture f(R"({"apps":{"a":{"isMuted":false,"volume":0.5},"b":{"isMuted":true,"volume":1}},)"
              R"("version":1})");
    f.store.setVolume(1.0f, "a", true);
    EXPECT_EQ(f.store.apps().count("a"), 0u);
    EXPECT_EQ(f.storage->text(), R"({"apps":{"b":{"isMuted":true,"volume":1}},"version":1})");
    f.store.setMuted(false, "b", true);
    EXPECT_TRUE(f.store.apps().empty());
    EXPECT_EQ(f.storage->text(), R"({"apps":{},"version":1})");
    EXPECT_EQ(f.storage->saves, 2);
}

TEST(AppSettingsStoreUpdate, VolumesAreSanitisedBeforeComparing) {
    Fixture f;
    f.store.setVolume(std::numeric_limits<float>::quiet_NaN(), "a", true);
    f.store.setVolume(std::numeric_limits<float>::infinity(), "a", true);
    f.store.setVolume(7.0f, "a", true);
    EXPECT_EQ(f.storage->saves, 0); // all three are the default volume
    EXPECT_TRUE(f.store.apps().empty());

    f.store.setVolume(-std::numeric_limits<float>::infinity(), "a", true);
    EXPECT_EQ(f.store.setting("a").volume, 0.0f);
    f.store.setVolume(-0.0f, "a", true);
    f.store.setVolume(-3.0f, "a", true);
    EXPECT_EQ(f.storage->saves, 1); // all the same 0
    EXPECT_FALSE(std::signbit(f.store.setting("a").volume));

    f.store.setVolume(std::numeric_limits<float>::quiet_NaN(), "a", true);
    EXPECT_TRUE(f.store.apps().empty()); // NaN means unchanged: back to the default
}

TEST(AppSettingsStoreUpdate, AnEmptyUIDMeansTheDefaultOutput) {
    Fixture f;
    f.store.setOutput("", "a", true);
    EXPECT_TRUE(f.store.apps().empty());
    EXPECT_EQ(f.storage->saves, 0);

    f.store.setOutput("speakers", "a", true);
    f.store.setMuted(true, "a", true);
    f.store.setOutput("", "a", true);
    EXPECT_EQ(f.store.setting("a"), make(1.0f, true));
    f.store.setOutput(std::nullopt, "a", true);
    EXPECT_EQ(f.storage->saves, 3); // "" and none are the same, so the last call wrote nothing
}

TEST(AppSettingsStoreUpdate, AStoredEmptyUIDIsClearedByTheNextUpdate) {
    Fixture f(R"({"apps":{"a":{"isMuted":true,"outputDeviceUID":"","volume":1}},"version":1})");
    EXPECT_EQ(f.store.setting("a"), make(1.0f, true, "")); // kept as stored
    f.store.setVolume(0.5f, "a", true);
    EXPECT_EQ(f.store.setting("a"), make(0.5f, true));
    EXPECT_EQ(f.storage->text(), R"({"apps":{"a":{"isMuted":true,"volume":0.5}},"version":1})");
}

TEST(AppSettingsStoreUpdate, ChangesThatChangeNothingNeitherWriteNorTouchDirty) {
    Fixture f;
    f.store.setMuted(false, "a", false);
    f.store.setMuted(false, "a", true);
    f.store.setVolume(1.0f, "a", false);
    f.store.setOutput(std::nullopt, "a", true);
    EXPECT_FALSE(f.store.dirty());
    EXPECT_EQ(f.storage->saves, 0);
    EXPECT_EQ(f.changes, 0);

    f.store.setVolume(0.4f, "a", true);
    f.store.setVolume(0.4f, "a", true); // the same value twice writes once
    EXPECT_EQ(f.storage->saves, 1);
    EXPECT_EQ(f.changes, 1);

    // A pending change survives a later no-op: dirty stays set until a flush.
    f.store.setVolume(0.6f, "a", false);
    EXPECT_TRUE(f.store.dirty());
    f.store.setVolume(0.6f, "a", true);
    EXPECT_TRUE(f.store.dirty());
    EXPECT_EQ(f.storage->saves, 1);
}

TEST(AppSettingsStoreUpdate, TheEmptyIdentifierIsNeverStored) {
    Fixture f;
    f.store.setMuted(true, "", true);
    f.store.setVolume(0.2f, "", false);
    EXPECT_TRUE(f.store.apps().empty());
    EXPECT_FALSE(f.store.dirty());
    EXPECT_EQ(f.storage->saves, 0);
}

// ---- dirty and flush ----

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
    EXPECT_EQ(f.storage->saves, 1);
    EXPECT_EQ(f.changes, 1);
    EXPECT_EQ(f.storage->text(),
              R"({"apps":{"a":{"isMuted":false,"volume":0.8},"b":{"isMuted":true,"volume":1}},)"
              R"("version":1})");

    // A persisted change writes the unpersisted ones with it.
    f.store.setVolume(0.1f, "a", false);
    f.store.setMuted(false, "b", true);
    EXPECT_FALSE(f.store.dirty());
    EXPECT_EQ(f.storage->text(), R"({"apps":{"a":{"isMuted":false,"volume":0.1}},"version":1})");
}

TEST(AppSettingsStoreFlush, OnChangeRunsAfterTheWriteAttempt) {
    Fixture f;
    f.store.setMuted(true, "a", true);
    EXPECT_EQ(f.changes, 1);
    EXPECT_EQ(f.textAtChange, f.storage->text()); // the document was saved before the call

    f.store.flush(); // a flush without changes still writes and reports
    EXPECT_EQ(f.storage->saves, 2);
    EXPECT_EQ(f.changes, 2);

    f.store.onChange = nullptr; // an owner that clears it must not make flush throw
    f.store.flush();
    EXPECT_EQ(f.storage->saves, 3);
}

TEST(AppSettingsStoreFlush, ARefusedWriteKeepsTheChangesPendingForTheNextFlush) {
    Fixture f;
    f.storage->failWrites = true;
    f.store.setVolume(0.5f, "a", true);
    EXPECT_TRUE(f.store.dirty());
    EXPECT_EQ(f.changes, 1); // reported as an attempt all the same
    EXPECT_FALSE(f.storage->text());

    f.store.setMuted(true, "b", false);
    f.storage->failWrites = false;
    f.store.flush();
    EXPECT_FALSE(f.store.dirty());
    EXPECT_EQ(f.storage->text(),
              R"({"apps":{"a":{"isMuted":false,"volume":0.5},"b":{"isMuted":true,"volume":1}},)"
              R"("version":1})");
}

TEST(AppSettingsStoreFlush, DirectEditsAreWrittenAndUnwritableEntriesDoNotCostTheRest) {
    Fixture f(R"({"apps":{"a":{"isMuted":true,"volume":0.5},"b":{"isMuted":true,"volume":0.5}},)"
              R"("version":1})");
    f.store.apps().erase("a");
    f.store.flush();
    EXPECT_EQ(f.storage->text(), R"({"apps":{"b":{"isMuted":true,"volume":0.5}},"version":1})");

    // Identifiers come from the audio server and need not be valid UTF-8; such an entry has no
    // JSON form and stays in memory only, while every other one is still written.
    f.store.setMuted(true, "bad\xff", true);
    f.store.setOutput("dev\xc3", "c", true);
    EXPECT_EQ(f.store.setting("bad\xff"), make(1.0f, true));
    EXPECT_EQ(f.store.apps().size(), 3u);
    EXPECT_EQ(f.storage->text(), R"({"apps":{"b":{"isMuted":true,"volume":0.5}},"version":1})");

    // Entries an owner put in by hand that loading would drop are not written either.
    f.store.apps().clear();
    f.store.apps()[""] = make(0.5f, true);
    f.store.apps()["default"] = AppSetting{};
    f.store.apps()["nan"] = make(std::numeric_limits<float>::quiet_NaN(), false);
    f.store.apps()["over"] = make(2.0f, true);
    f.store.flush();
    EXPECT_EQ(f.storage->text(), R"({"apps":{"over":{"isMuted":true,"volume":1}},"version":1})");
}

} // namespace
} // namespace brindell
