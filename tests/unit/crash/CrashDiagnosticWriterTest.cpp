#include "crash/CrashDiagnosticWriter.h"

#include "crash/CrashReport.h"
#include "crash/ElfBuildId.h"

#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace brindell {
namespace {

using nlohmann::json;

// One ELF note as a linker lays it out: header, owner name and descriptor, each padded.
void appendNote(std::vector<std::uint8_t>& notes, std::uint32_t type, const std::string& owner,
                const std::vector<std::uint8_t>& desc, std::size_t alignment) {
    auto word = [&](std::uint32_t w) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&w);
        notes.insert(notes.end(), bytes, bytes + 4);
    };
    auto pad = [&] {
        while (notes.size() % alignment != 0) {
            notes.push_back(0);
        }
    };
    word(static_cast<std::uint32_t>(owner.size() + 1));
    word(static_cast<std::uint32_t>(desc.size()));
    word(type);
    notes.insert(notes.end(), owner.begin(), owner.end());
    notes.push_back(0);
    pad();
    notes.insert(notes.end(), desc.begin(), desc.end());
    pad();
}

std::vector<std::uint8_t> sequence(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>(0xa0 + i);
    }
    return bytes;
}

std::string uuidOf(const std::vector<std::uint8_t>& notes, std::size_t alignment) {
    char uuid[37];
    formatBuildIdUUID(findGnuBuildId(notes.data(), notes.size(), alignment), uuid);
    return uuid;
}

TEST(ElfBuildId, FindsTheGnuBuildIdAmongOtherNotes) {
    const auto id = sequence(20); // a SHA-1 build-id: its first 16 bytes make the UUID
    for (std::size_t alignment : {4u, 8u}) {
        std::vector<std::uint8_t> notes;
        appendNote(notes, 5, "GNU", sequence(12), alignment); // a property note
        appendNote(notes, 3, "Go", sequence(16), alignment);  // right type, other owner
        appendNote(notes, 1, "GNU", sequence(16), alignment); // ABI tag
        appendNote(notes, 3, "GNU", id, alignment);
        EXPECT_EQ(uuidOf(notes, alignment), "A0A1A2A3-A4A5-A6A7-A8A9-AAABACADAEAF");
    }
    // A short (8-byte) id is padded with zeros.
    std::vector<std::uint8_t> shortId;
    appendNote(shortId, 3, "GNU", sequence(8), 4);
    EXPECT_EQ(uuidOf(shortId, 4), "A0A1A2A3-A4A5-A6A7-0000-000000000000");
}

TEST(ElfBuildId, MalformedOrMissingNotesGiveNoId) {
    std::vector<std::uint8_t> notes;
    appendNote(notes, 3, "GNU", sequence(20), 4);
    // Every truncation of a valid note area is rejected without reading past its end.
    for (std::size_t size = 0; size < notes.size(); ++size) {
        std::vector<std::uint8_t> cut(notes.begin(),
                                      notes.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_EQ(findGnuBuildId(cut.data(), cut.size(), 4).size(), 0u) << size;
    }
    std::vector<std::uint8_t> huge = notes;
    const std::uint32_t big = 0xfffffff0u;
    std::memcpy(huge.data() + 4, &big, 4); // descriptor size far beyond the area
    EXPECT_EQ(findGnuBuildId(huge.data(), huge.size(), 4).size(), 0u);
    std::memcpy(huge.data(), &big, 4);
    EXPECT_EQ(findGnuBuildId(huge.data(), huge.size(), 4).size(), 0u);
    EXPECT_EQ(findGnuBuildId(nullptr, 100, 4).size(), 0u);
    EXPECT_EQ(uuidOf({}, 4), "");
}

CapturedCrash sampleCrash() {
    CapturedCrash crash;
    crash.timeSeconds = 1712345678;
    crash.timeNanoseconds = 5000;
    crash.pid = 31337;
    crash.signal = SIGSEGV;
    crash.code = 1;
    crash.version = "0.1.0";
    crash.build = "42";
    crash.os = "12";
    crash.arch = "x86_64";
    crash.executablePath = "/home/al\"ice\\/Br\xc3\xa4ndell\n/bin/brindell";
    const char* images[] = {"brindell", "libc.so.6", "ld-linux-x86-64.so.2"};
    for (std::size_t i = 0; i < 3; ++i) {
        auto& frame = crash.frames[i];
        frame.image = images[i];
        std::snprintf(frame.uuid, sizeof frame.uuid, "%08zX-0000-0000-0000-000000000000", i);
        frame.offset = 0x1000 * (i + 1);
        frame.address = 0x7f0000000000 + frame.offset;
    }
    crash.frameCount = 3;
    return crash;
}

std::string write(const CapturedCrash& crash) {
    std::vector<char> buffer(crashDiagnosticCapacity);
    const std::size_t length = writeCrashDiagnostic(crash, buffer.data(), buffer.size());
    return std::string(buffer.data(), length);
}

TEST(CrashDiagnosticWriter, WritesWhatTheReportReadsWithOutermostFrameFirst) {
    const std::string text = write(sampleCrash());
    ASSERT_FALSE(text.empty());
    const json diagnostic = json::parse(text);
    // The local-only facts are in the diagnostic, exactly.
    EXPECT_EQ(diagnostic["diagnosticMetaData"]["executablePath"],
              "/home/al\"ice\\/Br\u00c3\u00a4ndell\n/bin/brindell");
    EXPECT_EQ(diagnostic["diagnosticMetaData"]["pid"], 31337);
    EXPECT_DOUBLE_EQ(diagnostic["timeStamp"].get<double>(), 1712345678.000005);

    const auto report = CrashReport::make(text);
    ASSERT_TRUE(report);
    // The crash's facts themselves: CrashPipeline checks them through a real crash.
    EXPECT_EQ(report->os, "12");
    EXPECT_EQ(report->arch, "x86_64");
    ASSERT_EQ(report->frames.size(), 3u);
    EXPECT_EQ(report->frames[0],
              (CrashReport::Frame{"ld-linux-x86-64.so.2", "00000002-0000-0000-0000-000000000000",
                                  0x3000}));
    EXPECT_EQ(report->frames[2].image, "brindell");
}

TEST(CrashDiagnosticWriter, TheLargestCrashFitsAndOverflowIsRefused) {
    auto crash = sampleCrash();
    const std::string path(4096, '\x01');
    const std::string image(64, 'x');
    crash.executablePath = path.c_str();
    crash.timeSeconds = INT64_MAX;
    crash.pid = INT64_MIN;
    for (auto& frame : crash.frames) {
        frame.image = image.c_str();
        std::strcpy(frame.uuid, "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF");
        frame.offset = UINT64_MAX;
        frame.address = UINT64_MAX;
    }
    crash.frameCount = CapturedCrash::maxFrames + 10; // never more than the array holds
    const std::string text = write(crash);
    ASSERT_FALSE(text.empty());
    const json diagnostic = json::parse(text);
    EXPECT_EQ(diagnostic["callStackTree"]["callStacks"][0]["callStackRootFrames"].size(), 64u);
    EXPECT_EQ(diagnostic["diagnosticMetaData"]["pid"], INT64_MIN);
    // Too small a buffer gives nothing rather than a cut-off document.
    std::vector<char> small(text.size());
    EXPECT_EQ(writeCrashDiagnostic(crash, small.data(), small.size()), 0u);
    small.resize(text.size() + 1);
    EXPECT_EQ(writeCrashDiagnostic(crash, small.data(), small.size()), text.size());
    EXPECT_EQ(writeCrashDiagnostic(crash, small.data(), 0), 0u);
}

} // namespace
} // namespace brindell
