#include "crash/CrashReport.h"

#include <array>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <regex>
#include <utility>

namespace brindell {
namespace {

using nlohmann::json;

// A value matches when it is a string, no longer than the pattern can ever match (which keeps
// the regex engine away from long inputs), and the pattern matches it whole.
struct Pattern {
    std::size_t maxLength;
    std::regex regex;

    Pattern(std::size_t longest, const char* pattern)
        : maxLength(longest), regex(pattern, std::regex::ECMAScript | std::regex::optimize) {}

    bool matches(const std::string& text) const {
        return !text.empty() && text.size() <= maxLength && std::regex_match(text, regex);
    }
    const std::string* matches(const json& value) const {
        const auto* text = value.get_ptr<const std::string*>();
        return text != nullptr && matches(*text) ? text : nullptr;
    }
};

// Built once; matching against a const regex is safe from any thread.
struct Patterns {
    Pattern version{25, R"(^\d{1,4}(\.\d{1,6}){0,3}$)"};
    Pattern build{12, R"(^\d{1,12}$)"};
    std::regex osExtraction{R"(\d{1,4}(\.\d{1,6}){0,3})", std::regex::ECMAScript};
    Pattern exceptionType{39, R"(^EXC_[A-Z_]{1,35}$)"};
    Pattern termination{64, R"(^[A-Za-z0-9 _.:(),-]{1,64}$)"};
    Pattern image{64, R"(^[A-Za-z0-9_.+ -]{1,64}$)"};
    Pattern uuid{36, R"(^[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}$)"};
};

const Patterns& patterns() {
    static const Patterns shared;
    return shared;
}

const json* member(const json& object, const char* key) {
    if (!object.is_object()) {
        return nullptr;
    }
    auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

// A number that is exactly a 64-bit signed integer. Fractions, values out of range and
// non-numbers (booleans included) give none.
std::optional<std::int64_t> exactInt64(const json& value) {
    switch (value.type()) {
    case json::value_t::number_integer:
        return value.get<std::int64_t>();
    case json::value_t::number_unsigned: {
        const auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(u);
    }
    case json::value_t::number_float: {
        const double d = value.get<double>();
        // 2^63 is exact as a double; the range check keeps the conversion defined.
        if (!std::isfinite(d) || std::trunc(d) != d || d < -9223372036854775808.0 ||
            d >= 9223372036854775808.0) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(d);
    }
    default:
        return std::nullopt;
    }
}

// A number that is exactly a 64-bit unsigned integer; negative values give none.
std::optional<std::uint64_t> exactUInt64(const json& value) {
    switch (value.type()) {
    case json::value_t::number_integer: {
        const auto i = value.get<std::int64_t>();
        if (i < 0) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(i);
    }
    case json::value_t::number_unsigned:
        return value.get<std::uint64_t>();
    case json::value_t::number_float: {
        const double d = value.get<double>();
        if (!std::isfinite(d) || std::trunc(d) != d || d < 0.0 || d >= 18446744073709551616.0) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(d);
    }
    default:
        return std::nullopt;
    }
}

// The member when it is an array whose every element is an object.
const json* arrayOfObjects(const json& object, const char* key) {
    const json* array = member(object, key);
    if (array == nullptr || !array->is_array()) {
        return nullptr;
    }
    for (const json& element : *array) {
        if (!element.is_object()) {
            return nullptr;
        }
    }
    return array;
}

std::optional<CrashReport::Frame> frameFrom(const json& frame) {
    const Patterns& p = patterns();
    const json* name = member(frame, "binaryName");
    const json* uuid = member(frame, "binaryUUID");
    const json* offsetValue = member(frame, "offsetIntoBinaryTextSegment");
    if (name == nullptr || uuid == nullptr || offsetValue == nullptr) {
        return std::nullopt;
    }
    const std::string* image = p.image.matches(*name);
    const std::string* id = p.uuid.matches(*uuid);
    const auto offset = exactUInt64(*offsetValue);
    if (image == nullptr || id == nullptr || !offset || *offset > CrashReport::maxOffset) {
        return std::nullopt;
    }
    CrashReport::Frame kept{*image, *id, *offset};
    for (char& c : kept.uuid) {
        if (c >= 'a' && c <= 'f') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return kept;
}

// The crashed thread's frames, depth first, each frame before its sub-frames, at most 64.
// Walked with an explicit stack so that deeply nested input cannot exhaust the call stack.
std::vector<CrashReport::Frame> framesFrom(const json& diagnostic) {
    std::vector<CrashReport::Frame> frames;
    const json* tree = member(diagnostic, "callStackTree");
    if (tree == nullptr) {
        return frames;
    }
    const json* stacks = arrayOfObjects(*tree, "callStacks");
    if (stacks == nullptr || stacks->empty()) {
        return frames;
    }
    const json* chosen = &stacks->front();
    for (const json& stack : *stacks) {
        const json* attributed = member(stack, "threadAttributed");
        if (attributed != nullptr && attributed->is_boolean() && attributed->get<bool>()) {
            chosen = &stack;
            break;
        }
    }
    const json* roots = arrayOfObjects(*chosen, "callStackRootFrames");
    if (roots == nullptr) {
        return frames;
    }
    std::vector<std::pair<const json*, std::size_t>> pending{{roots, 0}};
    while (!pending.empty() && frames.size() < CrashReport::maxFrames) {
        auto& [array, index] = pending.back();
        if (index >= array->size()) {
            pending.pop_back();
            continue;
        }
        const json& frame = (*array)[index];
        ++index;
        if (auto kept = frameFrom(frame)) {
            frames.push_back(std::move(*kept));
        }
        if (const json* subFrames = arrayOfObjects(frame, "subFrames")) {
            pending.emplace_back(subFrames, 0); // invalidates array and index; not used below
        }
    }
    return frames;
}

std::optional<std::string> osFrom(const json& metadata) {
    const json* value = member(metadata, "osVersion");
    const auto* text = value == nullptr ? nullptr : value->get_ptr<const std::string*>();
    if (text == nullptr) {
        return std::nullopt;
    }
    std::smatch found;
    if (!std::regex_search(*text, found, patterns().osExtraction)) {
        return std::nullopt;
    }
    std::string os = found.str(0);
    if (!patterns().version.matches(os)) {
        return std::nullopt;
    }
    return os;
}

std::optional<std::string> archFrom(const json& metadata) {
    const json* value = member(metadata, "platformArchitecture");
    const auto* text = value == nullptr ? nullptr : value->get_ptr<const std::string*>();
    if (text == nullptr) {
        return std::nullopt;
    }
    std::string arch = text->rfind("arm64", 0) == 0 ? std::string("arm64") : *text;
    if (arch != "arm64" && arch != "x86_64") {
        return std::nullopt;
    }
    return arch;
}

std::optional<std::string> exceptionTypeFrom(const json& metadata) {
    const json* value = member(metadata, "exceptionType");
    if (value == nullptr) {
        return std::nullopt;
    }
    if (value->is_number()) {
        const auto number = exactInt64(*value);
        return number ? exceptionTypeName(*number) : std::nullopt;
    }
    if (const std::string* text = patterns().exceptionType.matches(*value)) {
        return *text;
    }
    return std::nullopt;
}

json toJSON(const CrashReport& report) {
    // nlohmann's object keeps its keys in a std::map: the encoding comes out sorted.
    json object = json::object();
    object["v"] = report.v;
    object["app"] = report.app;
    object["version"] = report.version;
    object["build"] = report.build;
    object["os"] = report.os;
    object["arch"] = report.arch;
    if (report.exceptionType) {
        object["exceptionType"] = *report.exceptionType;
    }
    if (report.exceptionCode) {
        object["exceptionCode"] = *report.exceptionCode;
    }
    if (report.signal) {
        object["signal"] = *report.signal;
    }
    if (report.termination) {
        object["termination"] = *report.termination;
    }
    json frames = json::array();
    for (const auto& frame : report.frames) {
        frames.push_back({{"image", frame.image}, {"uuid", frame.uuid}, {"offset", frame.offset}});
    }
    object["frames"] = std::move(frames);
    return object;
}

} // namespace

std::optional<std::string> exceptionTypeName(std::int64_t number) {
    static const std::array<const char*, 12> names = {
        "EXC_BAD_ACCESS", "EXC_BAD_INSTRUCTION", "EXC_ARITHMETIC", "EXC_EMULATION",
        "EXC_SOFTWARE",   "EXC_BREAKPOINT",      "EXC_SYSCALL",    "EXC_MACH_SYSCALL",
        "EXC_RPC_ALERT",  "EXC_CRASH",           "EXC_RESOURCE",   "EXC_GUARD"};
    if (number < 1 || number > static_cast<std::int64_t>(names.size())) {
        return std::nullopt;
    }
    return names[static_cast<std::size_t>(number - 1)];
}

std::optional<CrashReport> CrashReport::make(std::string_view diagnosticJSON) {
    // No exceptions: a parse error yields a discarded value.
    const json diagnostic = json::parse(diagnosticJSON, nullptr, false);
    if (!diagnostic.is_object()) {
        return std::nullopt;
    }
    const json* metadata = member(diagnostic, "diagnosticMetaData");
    if (metadata == nullptr || !metadata->is_object()) {
        return std::nullopt;
    }
    const Patterns& p = patterns();
    CrashReport report;

    const json* version = member(*metadata, "appVersion");
    const std::string* versionText = version == nullptr ? nullptr : p.version.matches(*version);
    if (versionText == nullptr) {
        return std::nullopt;
    }
    report.version = *versionText;

    const json* build = member(*metadata, "appBuildVersion");
    const std::string* buildText = build == nullptr ? nullptr : p.build.matches(*build);
    if (buildText == nullptr) {
        return std::nullopt;
    }
    report.build = *buildText;

    auto os = osFrom(*metadata);
    auto arch = archFrom(*metadata);
    if (!os || !arch) {
        return std::nullopt;
    }
    report.os = std::move(*os);
    report.arch = std::move(*arch);

    report.exceptionType = exceptionTypeFrom(*metadata);
    if (const json* code = member(*metadata, "exceptionCode")) {
        report.exceptionCode = exactInt64(*code);
    }
    if (const json* signal = member(*metadata, "signal")) {
        const auto number = exactInt64(*signal);
        if (number && *number >= 0 && *number <= 64) {
            report.signal = number;
        }
    }
    if (const json* termination = member(*metadata, "terminationReason")) {
        if (const std::string* text = p.termination.matches(*termination)) {
            report.termination = *text;
        }
    }
    report.frames = framesFrom(diagnostic);
    return report;
}

std::optional<CrashReport> CrashReport::make(const Blob& diagnosticJSON) {
    return make(std::string_view(reinterpret_cast<const char*>(diagnosticJSON.data()),
                                 diagnosticJSON.size()));
}

Blob CrashReport::encoded() const {
    try {
        const std::string text = toJSON(*this).dump();
        return Blob(text.begin(), text.end());
    } catch (const json::exception&) {
        return {}; // only a hand-built report with invalid UTF-8 gets here
    }
}

std::string CrashReport::prettyPrinted() const {
    try {
        return toJSON(*this).dump(2);
    } catch (const json::exception&) {
        return {};
    }
}

CrashReport CrashReport::sampleReport() {
    CrashReport report;
    report.version = "1.0.0";
    report.build = "12";
    report.os = "26.0";
    report.arch = "arm64";
    report.exceptionType = "EXC_BAD_ACCESS";
    report.exceptionCode = 1;
    report.signal = 11;
    report.termination = "Namespace SIGNAL, Code 11";
    report.frames = {{"Brindell", "00000000-0000-0000-0000-000000000000", 4096},
                     {"libsystem_kernel.dylib", "00000000-0000-0000-0000-000000000001", 12288}};
    return report;
}

std::string CrashReport::sample() {
    return sampleReport().prettyPrinted();
}

} // namespace brindell
