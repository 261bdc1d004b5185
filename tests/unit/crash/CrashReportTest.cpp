#include "crash/CrashReport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>

namespace brindell {
namespace {

using nlohmann::json;

json frame(const std::string& name, const std::string& uuid, json offset, json subFrames = {}) {
    json f = {{"binaryName", name},
              {"binaryUUID", uuid},
              {"offsetIntoBinaryTextSegment", std::move(offset)},
              {"address", 140737488355328ULL}};
    if (!subFrames.is_null()) {
        f["subFrames"] = std::move(subFrames);
    }
    return f;
}

const char* const uuidA = "0123abcd-4567-89ef-0123-456789abcdef";
const char* const uuidAUpper = "0123ABCD-4567-89EF-0123-456789ABCDEF";

// A diagnostic as the crash handler writes it, with local-only extras that must never survive.
json diagnostic() {
    return {{"timeStamp", 1712345678.25},
            {"diagnosticMetaData",
             {{"appVersion", "1.2.3"},
              {"appBuildVersion", "456"},
              {"osVersion", "12"},
              {"platformArchitecture", "x86_64"},
              {"exceptionType", 1},
              {"exceptionCode", 2},
              {"signal", 11},
              {"terminationReason", "Namespace SIGNAL, Code 11"},
              {"pid", 4242},
              {"executablePath", "/home/alice/bin/brindell"}}},
            {"callStackTree",
             {{"callStacks",
               json::array(
                   {{{"threadAttributed", true},
                     {"callStackRootFrames",
                      json::array({frame("brindell", uuidA, 4096,
                                         json::array({frame("libc.so.6", uuidA, 12288)}))})}}})}}}};
}

std::optional<CrashReport> make(const json& j) {
    return CrashReport::make(j.dump());
}

std::optional<CrashReport> withMeta(const std::string& key, json value) {
    json j = diagnostic();
    if (value.is_null()) {
        j["diagnosticMetaData"].erase(key);
    } else {
        j["diagnosticMetaData"][key] = std::move(value);
    }
    return make(j);
}

std::string text(const Blob& blob) {
    return std::string(blob.begin(), blob.end());
}

TEST(CrashReport, PicksOnlyTheFixedFieldsOutOfADiagnostic) {
    const auto report = make(diagnostic());
    ASSERT_TRUE(report);
    CrashReport expected;
    expected.version = "1.2.3";
    expected.build = "456";
    expected.os = "12";
    expected.arch = "x86_64";
    expected.exceptionType = "EXC_BAD_ACCESS";
    expected.exceptionCode = 2;
    expected.signal = 11;
    expected.termination = "Namespace SIGNAL, Code 11";
    expected.frames = {{"brindell", uuidAUpper, 4096}, {"libc.so.6", uuidAUpper, 12288}};
    EXPECT_EQ(*report, expected);
    // Sorted keys, no whitespace, plain integers; the pid, path, addresses and time are gone.
    EXPECT_EQ(text(report->encoded()),
              R"({"app":"brindell","arch":"x86_64","build":"456","exceptionCode":2,)"
              R"("exceptionType":"EXC_BAD_ACCESS","frames":[{"image":"brindell","offset":4096,)"
              R"("uuid":"0123ABCD-4567-89EF-0123-456789ABCDEF"},{"image":"libc.so.6",)"
              R"("offset":12288,"uuid":"0123ABCD-4567-89EF-0123-456789ABCDEF"}],"os":"12",)"
              R"("signal":11,"termination":"Namespace SIGNAL, Code 11","v":1,"version":"1.2.3"})");
}

TEST(CrashReport, RefusesInputThatIsNotADiagnosticObject) {
    for (const char* input :
         {"", "not json", "[1,2]", "\"text\"", "42", "null", "{", R"({"diagnosticMetaData": []})",
          R"({"diagnosticMetaData": "x"})", "{}", "{\"a\":\"\xff\"}"}) {
        EXPECT_FALSE(CrashReport::make(std::string(input))) << input;
    }
}

TEST(CrashReport, RequiredFieldsMustMatchTheirPatterns) {
    struct Case {
        const char* key;
        json value;
        std::optional<std::string> result; // none: no report
    };
    const Case cases[] = {
        {"appVersion", "1.2.3.4", "1.2.3.4"},
        {"appVersion", "1.2.3.4.5", std::nullopt},
        {"appVersion", "1.2-beta", std::nullopt},
        {"appVersion", 1, std::nullopt},
        {"appVersion", nullptr, std::nullopt},
        {"appBuildVersion", "123456789012", "123456789012"},
        {"appBuildVersion", "1234567890123", std::nullopt},
        {"osVersion", "Linux 6.1.0-18-amd64", "6.1.0"},
        {"osVersion", "bookworm", std::nullopt},
        {"platformArchitecture", "arm64e", "arm64"},
        {"platformArchitecture", "i386", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto report = withMeta(c.key, c.value);
        SCOPED_TRACE(std::string(c.key) + " = " + c.value.dump());
        ASSERT_EQ(report.has_value(), c.result.has_value());
        if (!report) {
            continue;
        }
        const std::string key = c.key;
        const std::string& field = key == "appVersion"        ? report->version
                                   : key == "appBuildVersion" ? report->build
                                   : key == "osVersion"       ? report->os
                                                              : report->arch;
        EXPECT_EQ(field, *c.result);
    }
}

TEST(CrashReport, OptionalFieldsThatFailAreLeftOutButTheReportIsMade) {
    EXPECT_EQ(withMeta("exceptionType", 1)->exceptionType, "EXC_BAD_ACCESS");
    EXPECT_EQ(withMeta("exceptionType", 13)->exceptionType, std::nullopt);
    EXPECT_EQ(withMeta("exceptionType", "EXC_BAD_ACCESS")->exceptionType, "EXC_BAD_ACCESS");
    EXPECT_EQ(withMeta("exceptionType", "exc_bad_access")->exceptionType, std::nullopt);

    EXPECT_EQ(withMeta("exceptionCode", -6)->exceptionCode, -6);
    EXPECT_EQ(withMeta("exceptionCode", 9223372036854775807LL)->exceptionCode,
              9223372036854775807LL);
    EXPECT_EQ(withMeta("exceptionCode", 9223372036854775808ULL)->exceptionCode, std::nullopt);
    EXPECT_EQ(withMeta("exceptionCode", "1")->exceptionCode, std::nullopt);

    EXPECT_EQ(withMeta("signal", 64)->signal, 64);
    EXPECT_EQ(withMeta("signal", 65)->signal, std::nullopt);
    EXPECT_EQ(withMeta("signal", 11.5)->signal, std::nullopt);

    EXPECT_EQ(withMeta("terminationReason", std::string(64, 'a'))->termination,
              std::string(64, 'a'));
    EXPECT_EQ(withMeta("terminationReason", std::string(65, 'a'))->termination, std::nullopt);
    EXPECT_EQ(withMeta("terminationReason", "killed by /usr/bin/x")->termination, std::nullopt);

    // Absent optional fields are omitted from the encoding, not written as null.
    json bare = diagnostic();
    for (const char* key : {"exceptionType", "exceptionCode", "signal", "terminationReason"}) {
        bare["diagnosticMetaData"].erase(key);
    }
    bare.erase("callStackTree");
    const auto report = make(bare);
    ASSERT_TRUE(report);
    EXPECT_EQ(text(report->encoded()), R"({"app":"brindell","arch":"x86_64","build":"456",)"
                                       R"("frames":[],"os":"12","v":1,"version":"1.2.3"})");
}

TEST(CrashReport, WalksTheCrashedThreadDepthFirstKeepingOnlyValidFrames) {
    json j = diagnostic();
    // The bad frame is skipped, but its sub-frames are still walked, before its next sibling.
    json roots =
        json::array({frame("/usr/lib/secret", uuidA, 1,
                           json::array({frame("a", uuidA, 2, json::array({frame("b", uuidA, 3)})),
                                        frame("c", "not-a-uuid", 4)})),
                     frame("d", uuidA, 9007199254740992ULL), frame("e", uuidA, 9007199254740993ULL),
                     frame("f", uuidA, -1), frame("g", uuidA, 5.0), frame("h", uuidA, 5.5),
                     frame(std::string(65, 'i'), uuidA, 6), frame("j k+l_m-n.o", uuidA, 7)});
    j["callStackTree"]["callStacks"] =
        json::array({{{"threadAttributed", false},
                      {"callStackRootFrames", json::array({frame("x", uuidA, 0)})}},
                     {{"threadAttributed", true}, {"callStackRootFrames", roots}}});
    const auto report = make(j);
    ASSERT_TRUE(report);
    std::vector<std::pair<std::string, std::uint64_t>> seen;
    for (const auto& f : report->frames) {
        seen.emplace_back(f.image, f.offset);
        EXPECT_EQ(f.uuid, uuidAUpper);
    }
    const std::vector<std::pair<std::string, std::uint64_t>> expected = {
        {"a", 2}, {"b", 3}, {"d", 9007199254740992ULL}, {"g", 5}, {"j k+l_m-n.o", 7}};
    EXPECT_EQ(seen, expected);
}

TEST(CrashReport, ChoosesTheStackAndGivesUpOnMalformedStructure) {
    auto imagesOf = [](const json& stacks) {
        json j = diagnostic();
        j["callStackTree"]["callStacks"] = stacks;
        const auto report = make(j);
        std::vector<std::string> images;
        for (const auto& f : report.value().frames) {
            images.push_back(f.image);
        }
        return images;
    };
    auto stack = [](json attributed, const std::string& image) {
        json s = {{"callStackRootFrames", json::array({frame(image, uuidA, 1)})}};
        if (!attributed.is_null()) {
            s["threadAttributed"] = std::move(attributed);
        }
        return s;
    };
    using Images = std::vector<std::string>;
    // Without a stack attributed by boolean true, the first one is used.
    EXPECT_EQ(imagesOf(json::array({stack(nullptr, "first"), stack("true", "second")})),
              Images{"first"});
    EXPECT_EQ(imagesOf(json::array({stack(false, "first"), stack(true, "second")})),
              Images{"second"});
    EXPECT_EQ(imagesOf(json::array({stack(true, "a"), 3})), Images{});
    json rootsNotObjects =
        json::array({{{"threadAttributed", true}, {"callStackRootFrames", json::array({1, 2})}}});
    EXPECT_EQ(imagesOf(rootsNotObjects), Images{});
    // Sub-frames that are not an array of objects are no sub-frames; the frame itself stays.
    json odd = stack(true, "top");
    odd["callStackRootFrames"][0]["subFrames"] = json::array({frame("lost", uuidA, 1), "x"});
    EXPECT_EQ(imagesOf(json::array({odd})), Images{"top"});
}

TEST(CrashReport, SurvivesDeeplyNestedFrames) {
    // Far deeper than any call stack; must neither overflow the stack nor take long.
    const int depth = 20000;
    std::string nested;
    for (int i = 0; i < depth; ++i) {
        nested += R"({"binaryName":"/bad","binaryUUID":"x","offsetIntoBinaryTextSegment":1,)"
                  R"("subFrames":[)";
    }
    nested += R"({"binaryName":"deep","binaryUUID":")" + std::string(uuidA) +
              R"(","offsetIntoBinaryTextSegment":7})";
    for (int i = 0; i < depth; ++i) {
        nested += "]}";
    }
    json j = diagnostic();
    j.erase("callStackTree");
    std::string input = j.dump();
    input.pop_back();
    input += R"(,"callStackTree":{"callStacks":[{"callStackRootFrames":[)" + nested + "]}]}}";
    const auto report = CrashReport::make(input);
    ASSERT_TRUE(report);
    ASSERT_EQ(report->frames.size(), 1u);
    EXPECT_EQ(report->frames[0].image, "deep");
}

} // namespace
} // namespace brindell
